#pragma once
// A backup made by the real program onto image-file discs, one folder of incompressible
// bytes per disc, so that it spans three discs: disc 1 holds the root, Docs and Docs/2008,
// disc 2 Music, disc 3 Video. Each disc carries the catalogue of the discs up to it.

#include <gtest/gtest.h>

#include <QProcess>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "archive/LittleEndian.h"
#include "disc/ImageFileSystem.h"
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

    // Swaps the first two chunks of v.bin in the copy of disc 3 in place: the stream's layout
    // stays whole and every chunk decodes, only the content is wrong.
    void SwapFirstChunksOfVideo(const ScratchFolder& place) const {
        const std::string name = std::filesystem::path(images[2]).filename().string();
        const std::string image = place / name;
        ImageFileSystem discFiles(DefaultFileSystem());
        std::unique_ptr<File> in;
        ASSERT_TRUE(discFiles.OpenRead(image + "/" + name.substr(0, name.find(" disc ")) + " 4.cvn", in).ok());
        std::string stream(1 << 20, '\0');
        std::size_t got = 0;
        ASSERT_TRUE(in->Read(stream.data(), stream.size(), got).ok());
        stream.resize(got);
        std::string bytes = ReadWholeFile(image);
        const std::size_t base = bytes.find(stream);
        ASSERT_NE(base, std::string::npos);
        auto u32 = [&](std::size_t at) { return GetU32(reinterpret_cast<const unsigned char*>(bytes.data()) + at); };
        std::size_t at = base + 4 + u32(base) + 16;  // past the folder header
        at += 4 + u32(at) + 4 + 8 + 8;               // past the name, DataSize and times
        const std::size_t first = u32(at), second = u32(at + 4 + first);
        ASSERT_EQ(first, second) << "chunks of incompressible bytes have one length";
        std::swap_ranges(bytes.begin() + static_cast<long>(at + 4), bytes.begin() + static_cast<long>(at + 4 + first),
                         bytes.begin() + static_cast<long>(at + 8 + first));
        std::ofstream(image, std::ios::binary | std::ios::trunc) << bytes;
    }
};

}  // namespace corvane::test
