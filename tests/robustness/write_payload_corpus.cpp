// Writes the sample payloads, one file each, into the directory named by the first argument: the seed
// corpus of the payload reader's fuzz target.
#include "sample_payloads.h"

#include <fstream>
#include <iostream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: write-payload-corpus DIRECTORY\n";
        return 2;
    }
    for (const auto& [name, payload] : morix::robustness::samplePayloads()) {
        std::ofstream out(std::string(argv[1]) + "/" + name + ".payload", std::ios::binary);
        out << morix::payload::serialize(payload);
        if (!out) {
            std::cerr << "write-payload-corpus: cannot write " << name << "\n";
            return 1;
        }
    }
    return 0;
}
