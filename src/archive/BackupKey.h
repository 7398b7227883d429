#pragma once
// Encryption of a backup with its password (opt-in), with libsodium: one key per backup, made
// by Argon2id from the password and a random salt; every chunk, file record and folder sealed
// with XChaCha20-Poly1305 under a random nonce, its associated data naming where it belongs,
// so that nothing can be changed, swapped, dropped or moved between files, streams or backups
// unnoticed. The key lives in memory that libsodium guards and wipes.
//
// A sealed stream keeps the stream layout, so every reader can walk it:
//   FolderPath  "\" and the key parameters (version, salt, Argon2id limits, key check) in
//               URL-safe base64: public, and enough to refuse a wrong password at once
//   Password    kSealedMarker, which holds control characters, so no typed password opens it
//   record 0    the folder record: FileName = stream id, then the sealed backup name, stream
//               number, record count and folder path; DataSize 0, times 0
//   records     FileName = the sealed file id, times and name; DataSize as always; times 0
//   chunks      ChunkData = the sealed encoded chunk (nonce, ciphertext, tag)

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Status.h"

namespace corvane {

constexpr std::size_t kSaltBytes = 16;
constexpr std::size_t kKeyCheckBytes = 16;
constexpr std::size_t kIdBytes = 16;       // stream and file ids
constexpr std::size_t kSealOverhead = 40;  // nonce and tag of every sealed piece

using SealId = std::array<std::uint8_t, kIdBytes>;

// The stored Password of a sealed stream.
extern const std::string_view kSealedMarker;
bool IsSealedMarker(std::string_view storedPassword);

// A fresh random id for a stream or a file.
SealId NewSealId();

// What a reader needs to derive and check a backup's key; stored in every stream's FolderPath.
struct KeyParameters {
    std::array<std::uint8_t, kSaltBytes> salt{};
    std::uint32_t opsLimit = 0;
    std::uint32_t memLimitKiB = 0;
    std::array<std::uint8_t, kKeyCheckBytes> check{};

    bool operator<(const KeyParameters& other) const;
};

// The FolderPath of a sealed stream, and back. Parsing refuses other versions and limits a
// hostile disc could use to exhaust memory or time.
std::string StoredKeyParameters(const KeyParameters& parameters);
Status ParseKeyParameters(std::string_view folderPath, KeyParameters& parameters);

// A backup's key, in guarded memory wiped when it goes. Not copyable.
class BackupKey {
  public:
    // A new key for a new backup: a random salt and Argon2id of the password.
    static Status Create(std::string_view password, std::unique_ptr<BackupKey>& key);
    // The key of an existing backup; InvalidArgument ("Invalid Password") when the password
    // fails the key check, before anything is decoded.
    static Status Open(std::string_view password, const KeyParameters& parameters,
                       std::unique_ptr<BackupKey>& key);

    ~BackupKey();
    BackupKey(const BackupKey&) = delete;
    BackupKey& operator=(const BackupKey&) = delete;

    const KeyParameters& parameters() const { return parameters_; }

    // Seals n bytes into out (n + kSealOverhead bytes) under a random nonce, bound to context.
    void Seal(const std::uint8_t* plain, std::size_t n, std::string_view context, std::uint8_t* out) const;
    // Opens a sealed piece of n bytes into out (n - kSealOverhead bytes); false when it was
    // changed, is bound to another context or another key, or is too short.
    bool Open(const std::uint8_t* sealed, std::size_t n, std::string_view context, std::uint8_t* out) const;

  private:
    BackupKey();
    // Derives the data key and the key check from the password and the parameters' salt.
    Status Derive(std::string_view password, std::array<std::uint8_t, kKeyCheckBytes>& check);

    unsigned char* key_ = nullptr;  // sodium_malloc'd
    KeyParameters parameters_;
};

// The associated data of each sealed piece of a backup: which backup (salt), stream, file
// record or chunk it is.
std::string FolderContext(const KeyParameters& parameters, const SealId& stream);
std::string RecordContext(const KeyParameters& parameters, const SealId& stream, std::uint32_t recordIndex,
                          std::uint32_t dataSize);
std::string ChunkContext(const KeyParameters& parameters, const SealId& stream, const SealId& file,
                         std::uint32_t chunkIndex);

// The passwords typed during one restore, and the keys they opened: a key is derived once per
// backup and password, whatever the number of streams. Safe to use from several threads.
class KeyRing {
  public:
    ~KeyRing();
    void AddPassword(std::string_view password);
    // A key opened already (by the password dialog's check), so it is not derived again.
    void AddKey(std::shared_ptr<const BackupKey> key);
    // The key of the backup with these parameters, or null when no password given opens it.
    std::shared_ptr<const BackupKey> KeyFor(const KeyParameters& parameters);
    // True when a password was given and tried on these parameters without opening them.
    bool Refused(const KeyParameters& parameters);

  private:
    std::mutex mutex_;
    std::vector<std::string> passwords_;  // wiped when the ring goes
    std::map<KeyParameters, std::shared_ptr<const BackupKey>> keys_;
    std::map<KeyParameters, std::size_t> tried_;  // passwords tried on each backup so far
    // Backups no password opened: past a few, a new one is not tried at all.
    static constexpr int kMostRefusedBackups = 8;
    int refusedBackups_ = 0;
};

}  // namespace corvane
