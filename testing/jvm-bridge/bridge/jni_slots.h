// The names of the slots of the two JNI tables, so that a call through a slot that the bridge does not
// serve can say which function it was.
#pragma once

#include <jni.h>

#include <cstddef>

namespace morix::bridge {

inline constexpr size_t kEnvSlotCount = sizeof(JNINativeInterface_) / sizeof(void*);
inline constexpr size_t kVmSlotCount = sizeof(JNIInvokeInterface_) / sizeof(void*);

// The function name of a slot of the JNIEnv table ("FindClass"), or a placeholder beyond the table.
const char* envSlotName(size_t index);
// The same for the JavaVM table ("GetEnv").
const char* vmSlotName(size_t index);

} // namespace morix::bridge
