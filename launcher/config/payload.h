// The payload appended to the launcher's own executable: configuration strings by integer id, the
// localized message set of the user's locale, and the offset of the included files. Every other part
// of the launcher reads its configuration through the accessors below.
#pragma once

#include <windows.h>

#include "common/handles.h"
#include "common/text.h"

#include <cstdint>
#include <map>
#include <string>

namespace morix {

using ConfigStrings = std::map<int32_t, std::string>;
using ConfigWideStrings = std::map<int32_t, std::wstring>;

// Filled once by loadPayload and read-only afterwards.
extern ConfigStrings configStrings;
extern ConfigWideStrings configWideStrings;
// Offset in the own executable where the included-file records begin.
extern uint32_t includedFilesOffset;

// Reads the payload of the own executable; every failure ends the process with a fatal message.
void loadPayload();
// The configuration part of the payload from a handle positioned at its start (leaves the handle
// just after it).
void loadPayloadFrom(HANDLE file);

UniqueHandle openOwnExecutable();
void seekPayloadStart(HANDLE file);

// Read primitives: a failed or short read ends the process ("Internal Error: readInt" and so on).
int16_t readShort(HANDLE file);
int32_t readInt(HANDLE file);
int64_t readLong(HANDLE file);
std::string readString(HANDLE file);
std::wstring readWString(HANDLE file);

// Narrow value cut to capacity - 1 bytes (logged); absent ids read as empty.
std::string getConfigString(int32_t id, size_t capacity = kBufferSize);
// Narrow value widened through the ANSI code page, cut to capacity - 1 characters.
std::wstring getConfigStringWide(int32_t id, size_t capacity = kBufferSize);
// Wide value, cut to capacity - 1 characters.
std::wstring getConfigWideString(int32_t id, size_t capacity = kBufferSize);
// The whole narrow value.
std::string getConfigStringCopy(int32_t id);
// atoi of the narrow value: 0 when absent or not numeric.
int getConfigInt(int32_t id);
// A localized message: the wide value, or the narrow one widened when there is no wide one.
std::wstring getMessageText(int32_t id);

} // namespace morix
