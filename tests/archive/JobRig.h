#pragma once
// A host and a scripted disc layer set up for one backup job over a scratch source folder,
// and what the recorded discs hold afterwards.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "archive/BackupJob.h"
#include "archive/StreamFormat.h"
#include "support/ScratchFolder.h"
#include "support/ScriptedDiscMaster.h"
#include "support/StreamTestUtil.h"
#include "support/TestBackupHost.h"

namespace corvane::test {

struct JobRig {
    ScratchFolder source;
    ScratchFolder scratch;
    TestBackupHost host;
    std::shared_ptr<ScriptedDiscMaster> master = std::make_shared<ScriptedDiscMaster>();

    JobRig() {
        host.recorderSelection = "/dev/sr0";
        host.sourceSelection = SourceChoice{source.path(), std::string("DATA")};
        host.programPath = scratch.WriteFile("program", "#!program\n");
        host.answers = {MessageAnswer::Yes};  // the confirmation
        host.defaultAnswer = MessageAnswer::Retry;  // every "insert another disc"
    }

    BackupOutcome Run() {
        BackupJobServices services{[this] { return master; }, [](const std::string& path) { return path; }};
        return RunBackupJob(host, services);
    }

    // Every stream on every recorded disc, decoded, in disc order.
    struct Stream {
        std::size_t disc;
        StreamNameParts name;
        ReadBack content;
    };
    std::vector<Stream> Streams() {
        std::vector<Stream> streams;
        for (std::size_t d = 0; d < master->recordedDiscs().size(); ++d) {
            for (const auto& file : master->recordedDiscs()[d].files) {
                Stream stream{d, {}, {}};
                if (!ParseStreamName(file.name, stream.name)) continue;
                std::string path = scratch.WriteFile("decoded.cvn", file.bytes);
                EXPECT_TRUE(ReadSampleStream(path, stream.content).ok()) << file.name;
                streams.push_back(std::move(stream));
            }
        }
        return streams;
    }

    // The files the recorded discs give back, by their path below the source ("A/a1.bin").
    std::map<std::string, std::string> StoredFiles() {
        std::map<std::string, std::string> stored;
        for (const auto& stream : Streams()) {
            std::string prefix = stream.content.header.folderPath.substr(1);
            std::replace(prefix.begin(), prefix.end(), '\\', '/');
            for (const auto& f : stream.content.files) stored[prefix.empty() ? f.name : prefix + "/" + f.name] = f.content;
        }
        return stored;
    }
};

inline std::string Messages(const TestBackupHost& host) {
    std::string all;
    for (const auto& m : host.messages) all += m.text + "\n";
    return all;
}

}  // namespace corvane::test
