#include "support/profile_text.h"

namespace profile {

namespace {

// White space as the Windows reader trims it: the ASCII spaces and controls,
// and ^Z (an old end-of-file mark).
bool isSpace(char16_t c) { return c == u' ' || (c >= 0x09 && c <= 0x0D) || c == 0x1A; }

WideString trimmed(const WideString& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && isSpace(text[begin])) ++begin;
    while (end > begin && isSpace(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

// Names match without regard to the case of A to Z.
bool sameName(const WideString& a, const WideString& b) { return a.equalsIgnoreAsciiCase(b); }

// One line of the file as the reader sees it.
struct Line {
    enum Kind { Blank, Header, Pair } kind = Blank;
    WideString name;   // the section's, or the key's
    WideString value;  // a key's, after its first "="
};

Line classify(const WideString& raw) {
    Line line;
    WideString text = trimmed(raw);
    if (text.empty()) return line;
    // A "[" line without any "]" is an ordinary key line.
    size_t close = text.findLast(u']');
    if (text[0] == u'[' && close != WideString::npos) {
        line.kind = Line::Header;
        line.name = text.substr(1, close - 1);
        return line;
    }
    line.kind = Line::Pair;
    size_t equals = text.find(u'=');
    if (equals == WideString::npos) {
        line.name = text;
        return line;
    }
    line.name = trimmed(text.left(equals));
    line.value = trimmed(text.substr(equals + 1));
    return line;
}

}  // namespace

ProfileText::ProfileText(const WideString& text) {
    // Keys before the first header belong to no section a read can name.
    sections_.push_back(Section());
    for (const WideString& raw : splitAt(text, u'\n')) {
        Line line = classify(raw);
        if (line.kind == Line::Header)
            sections_.push_back(Section{line.name, {}});
        else if (line.kind == Line::Pair)
            sections_.back().keys.push_back(Key{line.name, line.value});
    }
}

WideString ProfileText::read(const WideString& section, const WideString& key) const {
    WideString sectionName = trimmed(section), keyName = trimmed(key);
    if (keyName.empty()) return WideString();
    for (const Section& s : sections_) {
        if (s.name.empty() || !sameName(s.name, sectionName)) continue;
        // Only the first section of a name is searched.
        for (const Key& k : s.keys) {
            if (!sameName(k.name, keyName)) continue;
            const WideString& value = k.value;
            if (value.size() >= 2 && (value[0] == u'"' || value[0] == u'\'') && value.last() == value[0])
                return value.substr(1, value.size() - 2);
            return value;
        }
        break;
    }
    return WideString();
}

List<WideString> ProfileText::sectionNames() const {
    List<WideString> names;
    for (const Section& s : sections_)
        if (!s.name.empty()) names.push_back(s.name);
    return names;
}

WideString rewriteProfileText(const WideString& text, const WideString& section, const WideString& key,
                              const WideString* value) {
    const WideString sectionName = trimmed(section), keyName = trimmed(key);
    // (A break at the very end adds no empty line.)
    List<WideString> lines = splitAt(text, u'\n');
    bool endsInBreak = text.endsWith(u'\n');
    bool crlf = text.find(u"\r\n") != WideString::npos;

    // The first section of the name, as the reader finds it; in it the
    // first line of the key, and the line a new key follows.
    long keyLine = -1, insertAfter = -1;
    bool inSection = false, sectionSeen = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        Line line = classify(lines[i]);
        if (line.kind == Line::Header) {
            if (inSection) break;
            inSection = !line.name.empty() && sameName(line.name, sectionName);
            if (inSection) {
                sectionSeen = true;
                insertAfter = static_cast<long>(i);
            }
        } else if (inSection && line.kind == Line::Pair) {
            insertAfter = static_cast<long>(i);
            if (keyLine < 0 && sameName(line.name, keyName)) keyLine = static_cast<long>(i);
        }
    }

    const WideString cr = crlf ? WideString(u"\r") : WideString();
    if (keyLine >= 0) {
        if (value) {
            // The key keeps its spelling; the line its own end.
            WideString name = classify(lines[keyLine]).name;
            lines[keyLine] = name + u"=" + *value + (lines[keyLine].endsWith(u'\r') ? u"\r" : u"");
        } else {
            lines.erase(lines.begin() + keyLine);
        }
    } else if (!value) {
        return text;
    } else if (sectionSeen) {
        lines.insert(lines.begin() + insertAfter + 1, keyName + u"=" + *value + cr);
    } else {
        lines.push_back(WideString(u"[") + sectionName + u"]" + cr);
        lines.push_back(keyName + u"=" + *value + cr);
        endsInBreak = true;
    }
    WideString out;
    for (size_t i = 0; i < lines.size(); ++i) {
        out += lines[i];
        if (i + 1 < lines.size() || endsInBreak) out += u'\n';
    }
    return out;
}

WideString decodeText(const NarrowString& bytes) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
    if (bytes.size() >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
        WideString text;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2) text += static_cast<char16_t>(p[i] | (p[i + 1] << 8));
        return text;
    }
    size_t skip = (bytes.size() >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) ? 3 : 0;
    // A name that is no UTF-8 (a folder picked on Linux) survives the file.
    return fromUtf8KeepingBytes(bytes.data() + skip, bytes.size() - skip);
}

NarrowString encodeLike(const NarrowString& original, const WideString& text) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(original.data());
    if (original.size() >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
        NarrowString bytes("\xFF\xFE", 2);
        for (size_t i = 0; i < text.size(); ++i) {
            bytes += static_cast<char>(text[i] & 0xFF);
            bytes += static_cast<char>(text[i] >> 8);
        }
        return bytes;
    }
    bool mark = original.size() >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF;
    return (mark ? NarrowString("\xEF\xBB\xBF") : NarrowString()) + toUtf8KeepingBytes(text);
}

}  // namespace profile

