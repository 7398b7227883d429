#include "platform/TextCodec.h"

#include <iconv.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cctype>

namespace corvane {

namespace {

// The code points of bytes 0x80..0xFF in the single-byte Windows code pages. The few bytes a
// code page leaves undefined are kept as the C1 control of the same number, as the platform's
// own conversion does.
constexpr char16_t kCp1250[128] = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021,
    0x0088, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7,
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};
constexpr char16_t kCp1251[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};
constexpr char16_t kCp1252[128] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
    0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7,
    0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
    0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF,
    0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7,
    0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF,
    0x00D0, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D7,
    0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF,
    0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7,
    0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF,
    0x00F0, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,
    0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x00FF,
};
constexpr char16_t kReplacement = 0xFFFD;

enum class Reading { Windows1250, Windows1251, Windows1252, Cp932, Utf8 };

struct ReadingName {
    const char* name;
    Reading reading;
};

// The first name of each reading is the one messages show.
constexpr ReadingName kReadingNames[] = {
    {"windows-1250", Reading::Windows1250}, {"cp1250", Reading::Windows1250},
    {"windows-1251", Reading::Windows1251}, {"cp1251", Reading::Windows1251},
    {"windows-1252", Reading::Windows1252}, {"cp1252", Reading::Windows1252},
    {"cp932", Reading::Cp932},              {"windows-31j", Reading::Cp932},
    {"utf-8", Reading::Utf8},               {"utf8", Reading::Utf8},
};

std::atomic<Reading> gReading{Reading::Windows1252};

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// The length of the UTF-8 sequence at bytes[i], 0 when none starts there.
std::size_t Utf8SequenceLength(std::string_view bytes, std::size_t i) {
    auto c = static_cast<unsigned char>(bytes[i]);
    std::size_t extra;
    char32_t cp;
    if (c < 0x80) {
        return 1;
    } else if ((c & 0xE0) == 0xC0) {
        extra = 1;
        cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        extra = 2;
        cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        extra = 3;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + extra >= bytes.size()) return 0;
    for (std::size_t k = 1; k <= extra; ++k) {
        auto cc = static_cast<unsigned char>(bytes[i + k]);
        if ((cc & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (cc & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    static constexpr char32_t kMinimum[4] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMinimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return extra + 1;
}

// The code point at text[i], i moved past it; a byte that starts no UTF-8 sequence stands for
// itself.
char32_t NextCodePoint(std::string_view text, std::size_t& i) {
    const std::size_t length = Utf8SequenceLength(text, i);
    char32_t cp = static_cast<unsigned char>(text[i]);
    if (length > 1) {
        cp &= 0x7Fu >> length;
        for (std::size_t k = 1; k < length; ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
    }
    i += length > 0 ? length : 1;
    return cp;
}

// Simple case folding of the letters the supported code pages hold.
char32_t FoldCase(char32_t c) {
    auto odd = [](char32_t x) { return (x & 1) != 0; };
    if (c >= 'A' && c <= 'Z') return c + 32;
    if (c < 0xB5) return c;
    if (c == 0xB5) return 0x3BC;                                       // micro sign: mu
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;            // Latin-1
    if (c >= 0x100 && c <= 0x137 && c != 0x130) return c | 1;          // Latin Extended-A pairs
    if (c >= 0x139 && c <= 0x148) return odd(c) ? c + 1 : c;
    if (c >= 0x14A && c <= 0x177) return c | 1;
    if (c == 0x178) return 0xFF;
    if (c >= 0x179 && c <= 0x17E) return odd(c) ? c + 1 : c;
    if (c == 0x17F) return 's';
    if (c == 0x386) return 0x3AC;                                      // Greek
    if (c >= 0x388 && c <= 0x38A) return c + 37;
    if (c == 0x38C) return 0x3CC;
    if (c == 0x38E || c == 0x38F) return c + 63;
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;
    if (c == 0x3C2) return 0x3C3;                                      // final sigma
    if (c >= 0x400 && c <= 0x40F) return c + 80;                       // Cyrillic
    if (c >= 0x410 && c <= 0x42F) return c + 32;
    if (c >= 0x460 && c <= 0x481) return c | 1;
    if (c >= 0x48A && c <= 0x4BF) return c | 1;
    return c;
}

std::string FromSingleByte(std::string_view bytes, const char16_t (&high)[128]) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char c : bytes) {
        auto byte = static_cast<unsigned char>(c);
        AppendUtf8(out, byte < 0x80 ? byte : high[byte - 0x80]);
    }
    return out;
}

// Valid sequences kept, every other byte replaced.
std::string FromBrokenUtf8(std::string_view bytes) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size();) {
        if (std::size_t length = Utf8SequenceLength(bytes, i)) {
            out.append(bytes.substr(i, length));
            i += length;
        } else {
            AppendUtf8(out, kReplacement);
            ++i;
        }
    }
    return out;
}

// The C library's converter from Shift-JIS as Windows writes it, one per thread because a
// converter keeps state.
class Cp932Converter {
  public:
    Cp932Converter() : handle_(iconv_open("UTF-8", "CP932")) {}
    ~Cp932Converter() {
        if (ok()) iconv_close(handle_);
    }
    Cp932Converter(const Cp932Converter&) = delete;
    Cp932Converter& operator=(const Cp932Converter&) = delete;

    bool ok() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

    // A byte that starts no Shift-JIS character is replaced and the conversion goes on.
    std::string Convert(std::string_view bytes) {
        std::string out;
        char buffer[256];
        char* in = const_cast<char*>(bytes.data());
        std::size_t inLeft = bytes.size();
        iconv(handle_, nullptr, nullptr, nullptr, nullptr);
        while (inLeft > 0) {
            char* to = buffer;
            std::size_t toLeft = sizeof buffer;
            const std::size_t result = iconv(handle_, &in, &inLeft, &to, &toLeft);
            out.append(buffer, static_cast<std::size_t>(to - buffer));
            if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
                AppendUtf8(out, kReplacement);
                ++in;
                --inLeft;
                iconv(handle_, nullptr, nullptr, nullptr, nullptr);
            }
        }
        return out;
    }

  private:
    iconv_t handle_;
};

Cp932Converter& ThreadCp932Converter() {
    thread_local Cp932Converter converter;
    return converter;
}

std::string Lowercase(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = Utf8SequenceLength(bytes, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

bool SelectStoredTextReading(std::string_view codePage) {
    const std::string name = Lowercase(codePage);
    for (const ReadingName& known : kReadingNames) {
        if (name != known.name) continue;
        if (known.reading == Reading::Cp932 && !ThreadCp932Converter().ok()) return false;
        gReading = known.reading;
        return true;
    }
    return false;
}

std::string SupportedStoredTextReadings() {
    std::string list;
    Reading last = Reading::Utf8;
    for (const ReadingName& known : kReadingNames) {
        if (!list.empty() && known.reading == last) continue;  // a second name of the same one
        last = known.reading;
        if (known.reading == Reading::Cp932 && !ThreadCp932Converter().ok()) continue;
        list += (list.empty() ? "" : ", ") + std::string(known.name);
    }
    return list;
}

std::string StoredTextToUtf8(std::string_view bytes) {
    if (IsValidUtf8(bytes)) return std::string(bytes);
    switch (gReading.load()) {
        case Reading::Windows1250:
            return FromSingleByte(bytes, kCp1250);
        case Reading::Windows1251:
            return FromSingleByte(bytes, kCp1251);
        case Reading::Cp932:
            return ThreadCp932Converter().Convert(bytes);
        case Reading::Utf8:
            return FromBrokenUtf8(bytes);
        case Reading::Windows1252:
            break;
    }
    return FromSingleByte(bytes, kCp1252);
}

std::size_t FindStoredSeparator(std::string_view text, std::size_t from) {
    if (gReading.load() != Reading::Cp932 || IsValidUtf8(text)) return text.find('\\', from);
    for (std::size_t i = from; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\\') return i;
        if ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) ++i;  // a double-byte character
    }
    return std::string_view::npos;
}

int CompareIgnoringCase(std::string_view a, std::string_view b) {
    std::size_t i = 0, k = 0;
    while (i < a.size() && k < b.size()) {
        const char32_t x = FoldCase(NextCodePoint(a, i));
        const char32_t y = FoldCase(NextCodePoint(b, k));
        if (x != y) return x < y ? -1 : 1;
    }
    if (i < a.size()) return 1;
    return k < b.size() ? -1 : 0;
}

}  // namespace corvane
