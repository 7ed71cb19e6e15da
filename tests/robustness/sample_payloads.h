// Valid payloads of the kinds the project makes (the demo's configuration, message sets, included
// files), written with the payload writer: the seeds of the mutation harness and the fuzz corpus.
#pragma once

#include "morix/payload.h"

#include <string>
#include <utility>
#include <vector>

namespace morix::robustness {

inline std::vector<std::pair<std::string, payload::Payload>> samplePayloads() {
    std::vector<std::pair<std::string, payload::Payload>> samples;

    payload::Payload empty;
    samples.emplace_back("empty", empty);

    payload::Payload hello;
    hello.strings = {{101, "MorixHello"},
                     {107, "0"},
                     {2001, "e"},
                     {122, "com.example.hello.HelloApp"},
                     {121, "A1lib\\morix-runtime.jar;A1lib\\hello.jar"},
                     {128, "Rjre;Y"},
                     {126, "1.8"},
                     {123, "-Xmx64m -Dhello=${launcher:sys.tempDir}"},
                     {166, "1"}};
    hello.wideStrings = {{20017, u"Morix demo service"}, {1016, u"No Java runtime found."}};
    samples.emplace_back("hello", hello);

    payload::Payload localized = hello;
    localized.messageSets = {{"de", {{1016, u"Keine passende Java-Laufzeit gefunden."}}},
                             {"pt_BR", {{1016, u"Nenhum Java encontrado."}, {1009, u"Erro interno {0}"}}},
                             {"", {{1000, u"Fehler"}}}};
    samples.emplace_back("localized", localized);

    payload::Payload files = hello;
    files.files = {{"app.jar", std::string("PK\x03\x04 a jar", 12)},
                   {"lib\\native.dll", std::string(300, '\x5a')},
                   {"empty.txt", ""}};
    files.describeIncludedFiles();
    samples.emplace_back("files", files);
    return samples;
}

} // namespace morix::robustness
