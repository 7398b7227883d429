#pragma once
// The disc master over libisofs and libburn: it gathers files for one disc image at a time and
// records the image on the active recorder, an image-file recorder or an optical drive.

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "disc/DiscImage.h"
#include "disc/DiscLayer.h"
#include "disc/DiscLibrary.h"
#include "disc/LibraryRecorder.h"

namespace corvane {

class LibraryDiscMaster final : public IDiscMaster, public IJolietDiscMaster {
  public:
    explicit LibraryDiscMaster(DiscLayerOptions options) : options_(std::move(options)) {}

    Status Open() override;
    Status SetActiveDiscMasterFormat(IJolietDiscMaster*& joliet) override;
    Status ProgressAdvise(IDiscMasterProgressEvents* sink, std::uint32_t& cookie) override;
    Status ProgressUnadvise(std::uint32_t cookie) override;
    // The image-file recorders of the options, then the optical drives when asked to scan.
    Status EnumDiscRecorders(std::unique_ptr<IEnumDiscRecorders>& recorders) override;
    // Only a recorder listed by a master of this layer.
    Status SetActiveDiscRecorder(const std::shared_ptr<IDiscRecorder>& recorder) override;
    // A recording that fails keeps the disc's content for another attempt; a simulation keeps
    // it too. After a real recording the next disc starts empty.
    Status RecordDisc(bool simulate, bool ejectAfterBurn) override;
    void KeepRecordedDisc(bool keep) override;
    // The content of the disc recorded last, onto a new one.
    Status RecordAgain(bool ejectAfterBurn) override;
    // Abandons the disc being gathered and forgets the recorder and the sinks.
    Status Close() override;

    // The staged file is taken as it is now: the caller deletes it afterwards and must not
    // rewrite it in place (the disc may share its bytes through a hard link). Needs an active
    // recorder, whose medium decides what fits. TooLarge when the file would not fit even an
    // empty disc.
    Status AddData(const StagedFile& file, bool overwrite) override;

  private:
    Status CheckOpen() const;
    DiscImage& CurrentDisc();
    std::vector<IDiscMasterProgressEvents*> Sinks() const;

    DiscLibrary::User library_;  // first in, last out: the libraries outlive everything below
    DiscLayerOptions options_;
    bool open_ = false;
    std::unique_ptr<DiscImage> disc_;
    std::unique_ptr<DiscImage> recorded_;  // the disc recorded last, for RecordAgain
    bool keepRecorded_ = false;
    std::shared_ptr<LibraryRecorder> recorder_;
    std::map<std::uint32_t, IDiscMasterProgressEvents*> sinks_;
    std::uint32_t nextCookie_ = 1;
};

}  // namespace corvane
