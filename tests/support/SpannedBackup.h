#pragma once
// A backup made by the real program onto image-file discs, one folder of incompressible
// bytes per disc, so that it spans three discs: disc 1 holds the root, Docs and Docs/2008,
// disc 2 Music, disc 3 Video. Each disc carries the catalogue of the discs up to it.

#include <gtest/gtest.h>

#include <QProcess>
#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "support/ProgramPayload.h"
#include "support/ScratchFolder.h"

namespace corvane::test {

struct SpannedBackup {
    ScratchFolder source, discs;
    std::map<std::string, std::string> files;  // path below the source -> content
    std::vector<std::string> images;           // disc 1 first

    SpannedBackup() {
        std::mt19937 random(11);
        auto noise = [&](std::size_t size) {
            std::string bytes(size, '\0');
            for (char& byte : bytes) byte = static_cast<char>(random());
            return bytes;
        };
        files = {{"readme.txt", "hello"},
                 {"Docs/r.txt", "report"},
                 {"Docs/2008/a.bin", noise(150000)},
                 {"Music/m.bin", noise(150000)},
                 {"Video/v.bin", noise(150000)}};
        for (const auto& [path, content] : files) source.WriteFile(path, content);
        // Room for the programs and one folder on each disc, not for two.
        QProcess process;
        process.start(QStringLiteral(CORVANE_BINARY_PATH),
                      {"backup", QString::fromStdString(source.path()), "--images", QString::fromStdString(discs.path()),
                       "--capacity", QString::number(ProgramPayloadSize() + 300000), "--yes"});
        process.closeWriteChannel();
        EXPECT_TRUE(process.waitForFinished(120000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        for (const auto& entry : std::filesystem::directory_iterator(discs.path())) images.push_back(entry.path());
        std::sort(images.begin(), images.end());
        EXPECT_EQ(images.size(), 3u);
    }

    // A folder holding a copy of the given discs' images only.
    std::string PlaceWith(const ScratchFolder& into, const std::vector<int>& discNumbers) const {
        for (int disc : discNumbers) {
            const std::filesystem::path image = images.at(static_cast<std::size_t>(disc - 1));
            std::filesystem::copy_file(image, std::filesystem::path(into.path()) / image.filename());
        }
        return into.path();
    }
};

}  // namespace corvane::test
