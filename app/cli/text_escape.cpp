#include "app/cli/text_escape.h"

#include <cstdint>

namespace keluflash::cli {
namespace {

// Length of the well-formed UTF-8 sequence at text[i] (no overlong forms, no
// surrogates, nothing above U+10FFFF); 0 when there is none.
size_t SequenceLength(std::string_view text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
    const uint8_t lead = byte(i);
    if (lead < 0x80) return 1;
    size_t length = 0;
    uint8_t low = 0x80;
    uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    if (byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (size_t k = 2; k < length; ++k)
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    return length;
}

void AppendEscaped(std::string& out, uint8_t byte) {
    static constexpr char kDigits[] = "0123456789abcdef";
    out += "\\x";
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0xF];
}

std::string Escape(std::string_view text, bool controls) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const size_t length = SequenceLength(text, i);
        const auto byte = static_cast<uint8_t>(text[i]);
        if (length == 0 || (controls && (byte < 0x20 || byte == 0x7F))) {
            AppendEscaped(out, byte);
            ++i;
            continue;
        }
        // U+0080 to U+009F: C1 controls, which some terminals obey (U+009B
        // starts a control sequence as ESC [ does).
        if (controls && length == 2 && byte == 0xC2 && static_cast<uint8_t>(text[i + 1]) < 0xA0) {
            AppendEscaped(out, byte);
            AppendEscaped(out, static_cast<uint8_t>(text[i + 1]));
            i += 2;
            continue;
        }
        out.append(text.substr(i, length));
        i += length;
    }
    return out;
}

}  // namespace

std::string EscapeInvalidUtf8(std::string_view text) { return Escape(text, false); }

std::string PrintableText(std::string_view text) { return Escape(text, true); }

std::string PrintableLines(std::string_view text) {
    std::string out;
    for (size_t start = 0;;) {
        const size_t end = text.find('\n', start);
        out += PrintableText(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) return out;
        out += '\n';
        start = end + 1;
    }
}

void EscapeInvalidUtf8(nlohmann::json& document) {
    if (document.is_string()) {
        document = EscapeInvalidUtf8(document.get_ref<const std::string&>());
    } else if (document.is_structured()) {
        for (nlohmann::json& element : document) EscapeInvalidUtf8(element);
    }
}

}  // namespace keluflash::cli
