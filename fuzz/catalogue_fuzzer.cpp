// The catalogue of a backup set as a disc gives it: read in one pass, every record handed on,
// whatever the bytes.

#include <cstddef>
#include <cstdint>

#include "archive/SetCatalogueReader.h"
#include "support/Check.h"
#include "support/InputFileSystem.h"

using corvane::fuzz::Check;

namespace {

// Counts what it is given and checks the order the reader promises: the backup first.
class Visitor final : public corvane::CatalogueVisitor {
public:
    void OnBackup(const corvane::CatalogueBackup&) override { ++backups; }
    void OnStream(const corvane::CatalogueStream&) override {
        Check(backups == 1, "a stream comes after the backup");
        ++streams;
    }
    void OnFile(const corvane::CatalogueFile&) override { Check(streams > 0, "a file comes after its stream"); }
    int backups = 0;
    int streams = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static corvane::fuzz::InputFileSystem files("/input/DATA 0812251430.catalog");
    files.SetInput(data, size);
    std::unique_ptr<corvane::File> in;
    if (!files.OpenRead(files.path(), in).ok()) return 0;
    Visitor visitor;
    const corvane::Status read = corvane::ReadSetCatalogue(*in, visitor);
    Check(!read.ok() || visitor.backups == 1, "a whole catalogue names its backup once");
    return 0;
}
