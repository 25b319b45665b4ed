// golden_captures DIR: writes each synthetic pair as DIR/<name>_tx.pcm and DIR/<name>_rx.pcm.
#include <cstdio>
#include <filesystem>

#include "GoldenCaptures.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: golden_captures DIR\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    for (const auto& [name, pair] : tarnwell::golden::SyntheticPairs()) {
        tarnwell::testcaptures::WritePcm(dir / (name + "_tx.pcm"), pair.first);
        tarnwell::testcaptures::WritePcm(dir / (name + "_rx.pcm"), pair.second);
    }
    return 0;
}
