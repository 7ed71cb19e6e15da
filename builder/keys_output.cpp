// [output]: where the Java side sends System.out and System.err.
#include "key_converters.h"
#include "key_sections.h"

#include "morix/config_ids.h"

namespace morix::builder {
namespace {

// An output file's key sets the file (its own id) and the flag that switches it on (its second id).
int32_t switchId(const Key& key) {
    return key.ids.at(1);
}

void encodeOutputFile(const Key& key, const toml::node& value, Encoder& out) {
    std::optional<std::string> text = readText(key, value, out);
    if (!text) {
        return;
    }
    if (text->empty()) {
        out.error(value.source(), key.dotted(), "expected a file name, found an empty string",
                  "leave the key out to keep the stream unredirected");
        return;
    }
    out.set(switchId(key), "1", key.dotted(), value.source());
    out.set(key.id(), toBackslashes(*text), key.dotted(), value.source());
}

std::optional<std::string> decodeOutputFile(const Key& key, Decoder& in) {
    const std::string* use = in.narrow(switchId(key));
    if (!use || *use != "1") {
        return std::nullopt;
    }
    std::optional<std::string> path = decodePath(key, in);
    if (path) {
        in.take(switchId(key));
    }
    return path;
}

// The rows, in the order of the reference.
const Key kRows[] = {
    {.section = "output",
     .name = "stdout",
     .type = "path",
     .defaultText = "the console",
     .meaning = "The file that System.out goes to (the Java side opens it; relative to the "
                "launcher's directory). The run command keeps the console; run-redirect and "
                "the service use the file.",
     .example = "\"logs/out.log\"",
     .exampleSets = {{ids::kRedirectStdout, "1"}, {ids::kStdoutFile, "logs\\out.log"}},
     .ids = {ids::kStdoutFile, ids::kRedirectStdout},
     .encode = encodeOutputFile,
     .decode = decodeOutputFile},
    {.section = "output",
     .name = "stderr",
     .type = "path",
     .defaultText = "the console",
     .meaning = "The file that System.err goes to; the same file as stdout shares one stream.",
     .example = "\"logs/err.log\"",
     .exampleSets = {{ids::kRedirectStderr, "1"}, {ids::kStderrFile, "logs\\err.log"}},
     .ids = {ids::kStderrFile, ids::kRedirectStderr},
     .encode = encodeOutputFile,
     .decode = decodeOutputFile},
    flagKey("output", "append", ids::kAppendOutput,
            "Append to the output files instead of replacing them at each start."),
};

} // namespace

std::vector<Key> outputKeys() {
    return {std::begin(kRows), std::end(kRows)};
}

} // namespace morix::builder
