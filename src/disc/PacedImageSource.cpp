#include "disc/PacedImageSource.h"

#include <chrono>
#include <cstdlib>
#include <new>
#include <thread>

namespace corvane {

namespace {

// The reader waits until the writer has filled this part of its buffer: a quarter of
// libisofs's 2 MiB is a few milliseconds of writing, far less than a drive buffers.
constexpr std::size_t kBurstDivisor = 4;
constexpr auto kFillWait = std::chrono::microseconds(500);
constexpr int kBufferActive = 1;  // iso_ring_buffer_get_status: writing and reading go on

struct Paced {
    burn::burn_source* image;
    bool draining = false;  // reading on without waiting, until less than a read is left
};

Paced& PacedOf(burn::burn_source* source) { return *static_cast<Paced*>(source->data); }

void WaitForBurst(Paced& paced, std::size_t wanted) {
    for (;;) {
        std::size_t capacity = 0;
        std::size_t free = 0;
        // Once the writer has ended or failed, or reading was cancelled, there is nothing to wait for.
        if (iso_ring_buffer_get_status(reinterpret_cast<::burn_source*>(paced.image), &capacity, &free) !=
            kBufferActive)
            return;
        const std::size_t filled = capacity - free;
        if (paced.draining ? filled >= wanted : filled >= capacity / kBurstDivisor) {
            paced.draining = true;
            return;
        }
        paced.draining = false;
        std::this_thread::sleep_for(kFillWait);
    }
}

int ReadPaced(burn::burn_source* source, unsigned char* buffer, int size) {
    Paced& paced = PacedOf(source);
    WaitForBurst(paced, size > 0 ? static_cast<std::size_t>(size) : 0);
    burn::burn_source* image = paced.image;
    return image->read ? image->read(image, buffer, size) : image->read_xt(image, buffer, size);
}

off_t SizeOfPaced(burn::burn_source* source) {
    burn::burn_source* image = PacedOf(source).image;
    return image->get_size(image);
}

int SetSizeOfPaced(burn::burn_source* source, off_t size) {
    burn::burn_source* image = PacedOf(source).image;
    return image->set_size(image, size);
}

int CancelPaced(burn::burn_source* source) {
    burn::burn_source* image = PacedOf(source).image;
    return image->version > 0 && image->cancel ? image->cancel(image) : 1;
}

void FreePaced(burn::burn_source* source) {
    Paced* paced = &PacedOf(source);
    burn::burn_source_free(paced->image);
    delete paced;
}

}  // namespace

burn::burn_source* PacedImageSource(burn::burn_source* image) {
    // libburn frees the struct with free() once its last reference goes.
    auto* source = static_cast<burn::burn_source*>(std::calloc(1, sizeof(burn::burn_source)));
    auto* paced = new (std::nothrow) Paced{image};
    if (!source || !paced) {
        std::free(source);
        delete paced;
        if (image->version > 0 && image->cancel) image->cancel(image);  // its writer waits for a reader
        burn::burn_source_free(image);
        return nullptr;
    }
    source->refcount = 1;
    source->get_size = SizeOfPaced;
    source->set_size = SetSizeOfPaced;
    source->free_data = FreePaced;
    source->data = paced;
    source->version = 1;
    source->read_xt = ReadPaced;
    source->cancel = CancelPaced;
    return source;
}

}  // namespace corvane
