#include "verify/LoadedCatalogue.h"

#include <memory>

#include "archive/SetCatalogueReader.h"

namespace corvane {

namespace {

class Collector final : public CatalogueVisitor {
public:
    explicit Collector(LoadedCatalogue& catalogue) : catalogue_(catalogue) {}

    void OnBackup(const CatalogueBackup& backup) override { catalogue_.backup = backup; }
    void OnStream(const CatalogueStream& stream) override { catalogue_.streams.push_back({stream, {}}); }
    void OnFile(const CatalogueFile& file) override {
        // The format puts every file after its stream; one before any stream belongs nowhere.
        if (!catalogue_.streams.empty()) catalogue_.streams.back().files.push_back(file);
    }

private:
    LoadedCatalogue& catalogue_;
};

}  // namespace

const CataloguedStream* LoadedCatalogue::Find(const std::string& streamName) const {
    auto it = byName.find(streamName);
    return it == byName.end() ? nullptr : &streams[it->second];
}

Status LoadCatalogue(FileSystem& files, const std::string& path, LoadedCatalogue& catalogue) {
    catalogue = {};
    std::unique_ptr<File> in;
    Status s = files.OpenRead(path, in);
    if (s.ok()) {
        Collector collector(catalogue);
        s = ReadSetCatalogue(*in, collector);
    }
    if (s.ok()) {
        for (std::size_t i = 0; i < catalogue.streams.size(); ++i)
            catalogue.byName.emplace(catalogue.streams[i].stream.name, i);
        return s;
    }
    catalogue = {};
    return s;
}

}  // namespace corvane
