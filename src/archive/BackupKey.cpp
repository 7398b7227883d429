#include "archive/BackupKey.h"

#include <sodium.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <cstring>
#include <tuple>

namespace corvane {

namespace {

constexpr std::uint8_t kVersion = 1;
// Argon2id for a new backup: three passes over 64 MiB, a fraction of a second once per backup.
constexpr std::uint32_t kOpsLimit = 3;
constexpr std::uint32_t kMemLimitKiB = 64 * 1024;
// What a reader accepts from a disc: enough for any backup this program makes, too little to
// make a hostile disc exhaust the machine.
constexpr std::uint32_t kMaxOpsLimit = 16;
constexpr std::uint32_t kMaxMemLimitKiB = 1024 * 1024;
constexpr std::size_t kStoredParameters = 1 + kSaltBytes + 4 + 4 + kKeyCheckBytes;
constexpr std::size_t kKeyBytes = crypto_aead_xchacha20poly1305_ietf_KEYBYTES;
constexpr std::size_t kNonceBytes = crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
constexpr char kKdfContext[crypto_kdf_CONTEXTBYTES + 1] = "cvnkey01";
constexpr int kBase64 = sodium_base64_VARIANT_URLSAFE_NO_PADDING;

static_assert(kSealOverhead == kNonceBytes + crypto_aead_xchacha20poly1305_ietf_ABYTES);

void Ready() {
    // Thread-safe and cheap after the first call; fails only without a random source.
    if (sodium_init() < 0) std::abort();
}

void PutU32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>(v >> (8 * i));
}
std::uint32_t GetU32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

std::string ContextStart(std::string_view kind, const KeyParameters& parameters, const SealId& stream) {
    std::string context(kind);
    context.append(reinterpret_cast<const char*>(parameters.salt.data()), parameters.salt.size());
    context.append(reinterpret_cast<const char*>(stream.data()), stream.size());
    return context;
}

}  // namespace

const std::string_view kSealedMarker = "\x01sealed-backup\x01\x01";

bool IsSealedMarker(std::string_view storedPassword) { return storedPassword == kSealedMarker; }

SealId NewSealId() {
    Ready();
    SealId id;
    randombytes_buf(id.data(), id.size());
    return id;
}

bool KeyParameters::operator<(const KeyParameters& other) const {
    return std::tie(salt, opsLimit, memLimitKiB, check) <
           std::tie(other.salt, other.opsLimit, other.memLimitKiB, other.check);
}

std::string StoredKeyParameters(const KeyParameters& parameters) {
    Ready();
    std::string raw(1, static_cast<char>(kVersion));
    raw.append(reinterpret_cast<const char*>(parameters.salt.data()), parameters.salt.size());
    PutU32(raw, parameters.opsLimit);
    PutU32(raw, parameters.memLimitKiB);
    raw.append(reinterpret_cast<const char*>(parameters.check.data()), parameters.check.size());
    std::string text(sodium_base64_ENCODED_LEN(kStoredParameters, kBase64), '\0');
    sodium_bin2base64(text.data(), text.size(), reinterpret_cast<const unsigned char*>(raw.data()), raw.size(),
                      kBase64);
    text.resize(std::strlen(text.c_str()));
    return "\\" + text;
}

Status ParseKeyParameters(std::string_view folderPath, KeyParameters& parameters) {
    Ready();
    const Status damaged(Status::Code::Corrupt, "Damaged stream: the key parameters of the encrypted folder cannot be read");
    if (folderPath.size() < 2 || folderPath[0] != '\\') return damaged;
    folderPath.remove_prefix(1);
    std::uint8_t raw[kStoredParameters + 1];
    std::size_t length = 0;
    if (sodium_base642bin(raw, sizeof raw, folderPath.data(), folderPath.size(), nullptr, &length, nullptr,
                          kBase64) != 0 ||
        length != kStoredParameters)
        return damaged;
    if (raw[0] != kVersion)
        return Status(Status::Code::NotImplemented, "the folder was encrypted by a newer version of Corvane");
    const std::uint8_t* p = raw + 1;
    std::copy_n(p, kSaltBytes, parameters.salt.begin());
    p += kSaltBytes;
    parameters.opsLimit = GetU32(p);
    parameters.memLimitKiB = GetU32(p + 4);
    std::copy_n(p + 8, kKeyCheckBytes, parameters.check.begin());
    if (parameters.opsLimit < crypto_pwhash_OPSLIMIT_MIN || parameters.opsLimit > kMaxOpsLimit ||
        parameters.memLimitKiB < crypto_pwhash_MEMLIMIT_MIN / 1024 || parameters.memLimitKiB > kMaxMemLimitKiB)
        return damaged;
    return Status::Ok();
}

BackupKey::BackupKey() {
    Ready();
    key_ = static_cast<unsigned char*>(sodium_malloc(kKeyBytes));
    if (!key_) throw std::bad_alloc();
}

BackupKey::~BackupKey() { sodium_free(key_); }  // wipes it

Status BackupKey::Derive(std::string_view password, std::array<std::uint8_t, kKeyCheckBytes>& check) {
    // Trailing white space is no part of a password, as for the stored password of a backup.
    while (!password.empty() && (password.back() == ' ' || (password.back() >= '\t' && password.back() <= '\r')))
        password.remove_suffix(1);
    unsigned char* master = static_cast<unsigned char*>(sodium_malloc(kKeyBytes));
    if (!master) return Status(Status::Code::NoSpace, "not enough memory to derive the key from the password");
    const int failed = crypto_pwhash(master, kKeyBytes, password.data(), password.size(), parameters_.salt.data(),
                                     parameters_.opsLimit, std::size_t{parameters_.memLimitKiB} * 1024,
                                     crypto_pwhash_ALG_ARGON2ID13);
    if (failed == 0) {
        crypto_kdf_derive_from_key(key_, kKeyBytes, 1, kKdfContext, master);
        crypto_kdf_derive_from_key(check.data(), check.size(), 2, kKdfContext, master);
    }
    sodium_free(master);
    if (failed != 0) return Status(Status::Code::NoSpace, "not enough memory to derive the key from the password");
    return Status::Ok();
}

Status BackupKey::Create(std::string_view password, std::unique_ptr<BackupKey>& key) {
    std::unique_ptr<BackupKey> made(new BackupKey);
    randombytes_buf(made->parameters_.salt.data(), made->parameters_.salt.size());
    made->parameters_.opsLimit = kOpsLimit;
    made->parameters_.memLimitKiB = kMemLimitKiB;
    Status s = made->Derive(password, made->parameters_.check);
    if (s.ok()) key = std::move(made);
    return s;
}

Status BackupKey::Open(std::string_view password, const KeyParameters& parameters, std::unique_ptr<BackupKey>& key) {
    std::unique_ptr<BackupKey> made(new BackupKey);
    made->parameters_ = parameters;
    std::array<std::uint8_t, kKeyCheckBytes> check{};
    Status s = made->Derive(password, check);
    if (!s.ok()) return s;
    if (sodium_memcmp(check.data(), parameters.check.data(), check.size()) != 0)
        return Status(Status::Code::InvalidArgument, "Invalid Password");
    key = std::move(made);
    return Status::Ok();
}

void BackupKey::Seal(const std::uint8_t* plain, std::size_t n, std::string_view context, std::uint8_t* out) const {
    randombytes_buf(out, kNonceBytes);
    crypto_aead_xchacha20poly1305_ietf_encrypt(out + kNonceBytes, nullptr, plain, n,
                                               reinterpret_cast<const unsigned char*>(context.data()), context.size(),
                                               nullptr, out, key_);
}

bool BackupKey::Open(const std::uint8_t* sealed, std::size_t n, std::string_view context, std::uint8_t* out) const {
    if (n < kSealOverhead) return false;
    return crypto_aead_xchacha20poly1305_ietf_decrypt(out, nullptr, nullptr, sealed + kNonceBytes, n - kNonceBytes,
                                                      reinterpret_cast<const unsigned char*>(context.data()),
                                                      context.size(), sealed, key_) == 0;
}

std::string FolderContext(const KeyParameters& parameters, const SealId& stream) {
    return ContextStart("folder", parameters, stream);
}

std::string RecordContext(const KeyParameters& parameters, const SealId& stream, std::uint32_t recordIndex,
                          std::uint32_t dataSize) {
    std::string context = ContextStart("record", parameters, stream);
    PutU32(context, recordIndex);
    PutU32(context, dataSize);
    return context;
}

std::string ChunkContext(const KeyParameters& parameters, const SealId& stream, const SealId& file,
                         std::uint32_t chunkIndex) {
    std::string context = ContextStart("chunk", parameters, stream);
    context.append(reinterpret_cast<const char*>(file.data()), file.size());
    PutU32(context, chunkIndex);
    return context;
}

KeyRing::~KeyRing() {
    for (std::string& password : passwords_) sodium_memzero(password.data(), password.size());
}

void KeyRing::AddPassword(std::string_view password) {
    std::lock_guard lock(mutex_);
    if (std::find(passwords_.begin(), passwords_.end(), password) == passwords_.end())
        passwords_.emplace_back(password);
}

void KeyRing::AddKey(std::shared_ptr<const BackupKey> key) {
    std::lock_guard lock(mutex_);
    keys_.emplace(key->parameters(), std::move(key));
}

std::shared_ptr<const BackupKey> KeyRing::KeyFor(const KeyParameters& parameters) {
    std::lock_guard lock(mutex_);
    if (auto found = keys_.find(parameters); found != keys_.end()) return found->second;
    // A disc whose streams each name other parameters would cost a derivation per stream.
    if (!tried_.count(parameters) && refusedBackups_ >= kMostRefusedBackups) return nullptr;
    std::size_t& tried = tried_[parameters];
    const std::size_t before = tried;
    for (; tried < passwords_.size(); ++tried) {
        std::unique_ptr<BackupKey> key;
        if (BackupKey::Open(passwords_[tried], parameters, key).ok()) {
            std::shared_ptr<const BackupKey> opened = std::move(key);
            keys_.emplace(parameters, opened);
            return opened;
        }
    }
    if (tried > before) ++refusedBackups_;
    return nullptr;
}

bool KeyRing::Refused(const KeyParameters& parameters) {
    std::lock_guard lock(mutex_);
    auto found = tried_.find(parameters);
    return found != tried_.end() && found->second > 0 && !keys_.count(parameters);
}

}  // namespace corvane
