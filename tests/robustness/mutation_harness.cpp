// The mutation harness: launchers whose payloads are seeded mutations of the sample payloads (bit
// flips, boundary values in every count, length and size field, truncation, duplication), each run
// with /help and /run under a time limit beside a runtime whose VM is the recording stand-in. Every
// run is classified as a normal end, a crash or a hang; a crashing or hanging payload is kept as a
// file, and the files of a directory can be run again as regression inputs.
//
//   morix-mutate [--seed N] [--mutants N] [--keep DIR] [--timeout-ms N]   a mutation run
//   morix-mutate --replay DIR                                           every *.payload in DIR
#include "harness/fake_runtime.h"
#include "harness/harness.h"
#include "sample_payloads.h"

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

using namespace morix;
using namespace morix::test;

namespace {

enum class Outcome { Normal, Crash, Hang };

const char* outcomeName(Outcome outcome) {
    switch (outcome) {
    case Outcome::Normal:
        return "normal end";
    case Outcome::Crash:
        return "crash";
    case Outcome::Hang:
        return "hang";
    }
    return "?";
}

// The launcher ends with 0, 1 or the application's own code (the stand-in VM never sets one), so
// anything else is a crash: an exception code (0xC0000005 and the like) or abort()'s 3.
Outcome classify(const ProcessResult& result) {
    if (result.timedOut) {
        return Outcome::Hang;
    }
    return result.exitCode <= 2 ? Outcome::Normal : Outcome::Crash;
}

// Where the count, length and size fields of a serialized payload are: offset and width in bytes.
struct Field {
    size_t offset;
    size_t width;
};

std::vector<Field> sizeFields(const payload::Payload& p) {
    std::vector<Field> fields;
    size_t at = 4 + 4 + 4 + 8;
    fields.push_back({at, 4});
    at += 4;
    for (const auto& entry : p.strings) {
        fields.push_back({at + 4, 4});
        at += 8 + entry.second.size();
    }
    fields.push_back({at, 4});
    at += 4;
    for (const auto& entry : p.wideStrings) {
        fields.push_back({at + 4, 4});
        at += 8 + 2 * entry.second.size();
    }
    fields.push_back({at, 4});
    at += 4;
    for (const payload::MessageSet& set : p.messageSets) {
        fields.push_back({at, 4});
        at += 4 + set.locale.size();
        fields.push_back({at, 4});
        at += 4;
        for (const auto& text : set.texts) {
            fields.push_back({at + 4, 4});
            at += 8 + 2 * text.second.size();
        }
    }
    for (const payload::IncludedFile& file : p.files) {
        fields.push_back({at, 8});
        at += 8 + file.content.size();
    }
    return fields;
}

void putLittleEndian(std::string& bytes, const Field& field, uint64_t value) {
    for (size_t i = 0; i < field.width && field.offset + i < bytes.size(); ++i) {
        bytes[field.offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

struct Mutant {
    std::string bytes;
    std::string description;
};

Mutant mutate(const std::string& name, const payload::Payload& p, std::mt19937& random) {
    std::string bytes = payload::serialize(p);
    auto below = [&](size_t n) { return n == 0 ? size_t{0} : static_cast<size_t>(random() % n); };
    Mutant mutant;
    switch (below(4)) {
    case 0: {
        const size_t flips = 1 + below(8);
        for (size_t i = 0; i < flips; ++i) {
            bytes[below(bytes.size())] ^= static_cast<char>(1u << below(8));
        }
        mutant.description = name + ": " + std::to_string(flips) + " bit flips";
        break;
    }
    case 1: {
        const std::vector<Field> fields = sizeFields(p);
        const Field field = fields[below(fields.size())];
        const uint64_t remaining = bytes.size() - field.offset - field.width;
        const uint64_t values[] = {0,
                                   1,
                                   2,
                                   0xFF,
                                   0x7FFF,
                                   0xFFFF,
                                   0x10000,
                                   0x7FFFFFFE,
                                   0x7FFFFFFF,
                                   0x80000000,
                                   0xFFFFFFFF,
                                   remaining,
                                   remaining + 1,
                                   remaining - 1,
                                   0x7FFFFFFFFFFFFFFFull,
                                   0x8000000000000000ull,
                                   ~uint64_t{0}};
        const uint64_t value = values[below(std::size(values))];
        putLittleEndian(bytes, field, value);
        mutant.description =
            name + ": field at " + std::to_string(field.offset) + " = " + std::to_string(value);
        break;
    }
    case 2: {
        const size_t length = below(bytes.size());
        bytes.resize(length);
        mutant.description = name + ": cut to " + std::to_string(length) + " bytes";
        break;
    }
    default: {
        const size_t start = below(bytes.size());
        const size_t length = 1 + below(std::min<size_t>(bytes.size() - start, 200));
        bytes.insert(start + length, bytes.substr(start, length));
        mutant.description =
            name + ": " + std::to_string(length) + " bytes at " + std::to_string(start) + " duplicated";
        break;
    }
    }
    mutant.bytes = std::move(bytes);
    return mutant;
}

class Runner {
public:
    explicit Runner(DWORD timeoutMs)
        : timeoutMs_(timeoutMs), tmp_(dir_.file(L"tmp")), jre_(dir_.file(L"jre")) {
        createDirectory(tmp_);
        // The class path of the samples, so that /run of an intact payload reaches the VM.
        createDirectory(dir_.file(L"lib"));
        writeFile(dir_.file(L"lib\\morix-runtime.jar"), "");
        writeFile(dir_.file(L"lib\\hello.jar"), "");
        jre_.removeJvm(L"bin", L"server")
            .addBuiltFile(L"bin\\server\\jvm.dll", L"recording-jvm.dll")
            .addBuiltFile(L"bin\\jli.dll", L"fake-jli.dll");
    }

    ProcessResult run(const std::wstring& program, const std::wstring& arguments) const {
        ProcessOptions options;
        options.environment = {{L"TMP", tmp_},
                               {L"TEMP", tmp_},
                               {L"MORIX_LOG", std::nullopt},
                               {L"VANTAROCK_LOG", std::nullopt},
                               {L"MORIX_TRANSCRIPT", std::nullopt},
                               {L"MORIX_RECORDING_JVM", std::nullopt}};
        options.workingDirectory = dir_.path();
        options.timeoutMs = timeoutMs_;
        return runProcess(quoteArgument(program) + L" " + arguments, options);
    }

    // Both commands on one payload; the worse outcome counts.
    Outcome runPayload(const std::string& bytes, std::string& detail, DWORD* runExitCode = nullptr) const {
        const std::wstring launcher = dir_.file(L"mutant.exe");
        writeLauncherBytes(launcher, bytes);
        Outcome worst = Outcome::Normal;
        for (const wchar_t* command : {L"/help", L"/run"}) {
            const ProcessResult result = run(launcher, command);
            const Outcome outcome = classify(result);
            if (runExitCode) {
                *runExitCode = result.exitCode;
            }
            if (outcome != Outcome::Normal) {
                detail += narrow(command) + ": " + outcomeName(outcome) + " (exit code " +
                          std::to_string(result.exitCode) + ") ";
                worst = outcome;
            }
        }
        return worst;
    }

    // The classification must tell a crash from a normal end before any mutant counts.
    bool calibrate() const {
        const Outcome crash = classify(run(binFile(L"harness-crash.exe"), L""));
        // An intact sample runs its stand-in application to the end, so mutants start from a whole run.
        std::string detail;
        DWORD runExitCode = 0;
        const Outcome valid =
            runPayload(payload::serialize(robustness::samplePayloads()[1].second), detail, &runExitCode);
        std::printf(
            "calibration: a program that crashes on purpose: %s; a valid launcher: %s, /run exit code %lu\n",
            outcomeName(crash), outcomeName(valid), runExitCode);
        return crash == Outcome::Crash && valid == Outcome::Normal && runExitCode == 0;
    }

private:
    DWORD timeoutMs_;
    TestDirectory dir_;
    std::wstring tmp_;
    FakeRuntime jre_;
};

struct Counts {
    int inputs = 0;
    int normal = 0;
    int crashes = 0;
    int hangs = 0;
    void add(Outcome outcome) {
        ++inputs;
        (outcome == Outcome::Normal ? normal : outcome == Outcome::Crash ? crashes : hangs)++;
    }
};

int report(const Counts& counts, const std::string& what) {
    std::printf("%s: %d inputs, %d normal ends, %d crashes, %d hangs\n", what.c_str(), counts.inputs,
                counts.normal, counts.crashes, counts.hangs);
    return counts.crashes == 0 && counts.hangs == 0 ? 0 : 1;
}

int replay(const Runner& runner, const std::wstring& directory) {
    Counts counts;
    for (const std::wstring& name : listDirectory(directory)) {
        if (name.size() < 8 || name.substr(name.size() - 8) != L".payload") {
            continue;
        }
        std::string detail;
        const Outcome outcome = runner.runPayload(readFile(directory + L"\\" + name), detail);
        counts.add(outcome);
        if (outcome != Outcome::Normal) {
            std::printf("%s: %s\n", narrow(name).c_str(), detail.c_str());
        }
    }
    return report(counts, "replay of " + narrow(directory));
}

} // namespace

int main(int argc, char** argv) {
    unsigned seed = 1;
    int mutants = 200;
    DWORD timeoutMs = 30000;
    std::wstring keep;
    std::wstring replayDirectory;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const std::wstring value = wide(argv[i + 1]);
        if (option == "--seed") {
            seed = static_cast<unsigned>(std::wcstoul(value.c_str(), nullptr, 10));
        } else if (option == "--mutants") {
            mutants = std::wcstol(value.c_str(), nullptr, 10);
        } else if (option == "--keep") {
            keep = value;
        } else if (option == "--timeout-ms") {
            timeoutMs = static_cast<DWORD>(std::wcstoul(value.c_str(), nullptr, 10));
        } else if (option == "--replay") {
            replayDirectory = value;
        } else {
            std::fprintf(stderr, "morix-mutate: unknown option %s\n", option.c_str());
            return 2;
        }
    }
    try {
        Runner runner(timeoutMs);
        if (!runner.calibrate()) {
            std::printf("calibration failed: crashes cannot be told from normal ends\n");
            return 1;
        }
        if (!replayDirectory.empty()) {
            return replay(runner, replayDirectory);
        }
        if (keep.empty()) {
            keep = binFile(L"mutation-findings");
        }
        createDirectory(keep);
        const auto samples = robustness::samplePayloads();
        std::mt19937 random(seed);
        Counts counts;
        for (int i = 0; i < mutants; ++i) {
            const auto& [name, sample] = samples[random() % samples.size()];
            const Mutant mutant = mutate(name, sample, random);
            std::string detail;
            const Outcome outcome = runner.runPayload(mutant.bytes, detail);
            counts.add(outcome);
            if ((i + 1) % 50 == 0) {
                report(counts, "after " + std::to_string(i + 1) + " mutants");
                std::fflush(stdout);
            }
            if (outcome != Outcome::Normal) {
                const std::wstring file =
                    keep + L"\\seed" + std::to_wstring(seed) + L"-" + std::to_wstring(i) + L".payload";
                writeFile(file, mutant.bytes);
                std::printf("mutant %d (%s): %s kept as %s\n", i, mutant.description.c_str(), detail.c_str(),
                            narrow(file).c_str());
            }
        }
        return report(counts, "mutation run with seed " + std::to_string(seed));
    } catch (const std::exception& error) {
        std::printf("morix-mutate: %s\n", error.what());
        return 1;
    }
}
