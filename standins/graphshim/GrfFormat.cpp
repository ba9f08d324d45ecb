#include "GrfFormat.h"

#include <cstring>
#include <unordered_set>

namespace grf {

bool Guid::operator==(const Guid& o) const {
    return d1 == o.d1 && d2 == o.d2 && d3 == o.d3 && std::memcmp(d4, o.d4, sizeof d4) == 0;
}

const Filter* Graph::FindFilter(uint32_t id) const {
    for (const Filter& f : filters)
        if (f.id == id) return &f;
    return nullptr;
}

namespace {

const char kHex[] = "0123456789ABCDEF";

void AppendHex(std::u16string& s, uint32_t v, int nDigits) {
    for (int i = nDigits - 1; i >= 0; --i) s += char16_t(kHex[(v >> (4 * i)) & 0xF]);
}

int HexValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    return -1;
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == 0; }

// Reads wide characters (little-endian) and byte blocks from the stream's bytes.
class Reader {
public:
    Reader(const uint8_t* pb, size_t cb) : m_pb(pb), m_cb(cb) {}

    size_t Pos() const { return m_pos; }
    bool AtEnd() const { return m_cb - m_pos < 2; }
    char16_t Peek() const { return char16_t(m_pb[m_pos] | (m_pb[m_pos + 1] << 8)); }
    void Next() { m_pos += 2; }

    void SkipBlanks() {
        while (!AtEnd() && IsBlank(Peek())) Next();
    }
    // A run of non-blank characters, at most cchMax of them (longer runs fail).
    bool Token(std::u16string* pText, size_t cchMax) {
        SkipBlanks();
        pText->clear();
        while (!AtEnd() && !IsBlank(Peek())) {
            if (pText->size() == cchMax) return false;
            *pText += Peek();
            Next();
        }
        return !pText->empty();
    }
    bool Keyword(const char* psz) {
        size_t save = m_pos;
        std::u16string t;
        if (Token(&t, 16) && Equal(t, psz)) return true;
        m_pos = save;
        return false;
    }
    bool Number(uint32_t* pn) {
        std::u16string t;
        if (!Token(&t, 10)) return false;
        uint64_t v = 0;
        for (char16_t c : t) {
            if (c < u'0' || c > u'9') return false;
            v = v * 10 + (c - u'0');
        }
        if (v > 0xFFFFFFFFu) return false;
        *pn = uint32_t(v);
        return true;
    }
    bool Flag(bool* pb) {
        uint32_t n;
        if (!Number(&n) || n > 1) return false;
        *pb = n != 0;
        return true;
    }
    bool GuidToken(Guid* pg) {
        std::u16string t;
        return Token(&t, 38) && TextToGuid(t, pg);
    }
    // "text": everything up to the next quote.
    bool Quoted(std::u16string* pText) {
        SkipBlanks();
        if (AtEnd() || Peek() != u'"') return false;
        Next();
        pText->clear();
        while (!AtEnd() && Peek() != u'"') {
            *pText += Peek();
            Next();
        }
        if (AtEnd()) return false;
        Next();
        return true;
    }
    // After a length: exactly one separating character, then that many bytes.
    bool Block(uint32_t cb, std::vector<uint8_t>* pData) {
        if (AtEnd()) return false;
        Next();
        if (cb > m_cb - m_pos) return false;
        pData->assign(m_pb + m_pos, m_pb + m_pos + cb);
        m_pos += cb;
        return true;
    }
    bool PeekKeyword(const char* psz) {
        size_t save = m_pos;
        bool b = Keyword(psz);
        m_pos = save;
        return b;
    }

private:
    static bool Equal(const std::u16string& t, const char* psz) {
        size_t n = std::strlen(psz);
        if (t.size() != n) return false;
        for (size_t i = 0; i < n; ++i) {
            char16_t c = t[i];
            if (c >= u'a' && c <= u'z') c = char16_t(c - u'a' + u'A');
            if (c != char16_t(psz[i])) return false;
        }
        return true;
    }

    const uint8_t* m_pb;
    size_t m_cb;
    size_t m_pos = 0;
};

class Writer {
public:
    explicit Writer(std::vector<uint8_t>* pOut) : m_pOut(pOut) {}
    void Text(const std::u16string& s) {
        for (char16_t c : s) {
            m_pOut->push_back(uint8_t(c & 0xFF));
            m_pOut->push_back(uint8_t(c >> 8));
        }
    }
    void Text(const char* psz) {
        for (; *psz; ++psz) Text(std::u16string(1, char16_t(uint8_t(*psz))));
    }
    void Bytes(const std::vector<uint8_t>& b) { m_pOut->insert(m_pOut->end(), b.begin(), b.end()); }

private:
    std::vector<uint8_t>* m_pOut;
};

std::u16string Decimal(uint32_t v, int nWidth) {
    char buf[16];
    int n = 0;
    do {
        buf[n++] = char('0' + v % 10);
        v /= 10;
    } while (v);
    std::u16string s;
    for (int i = n; i < nWidth; ++i) s += u'0';
    while (n) s += char16_t(buf[--n]);
    return s;
}

std::u16string Quote(const std::u16string& s) { return u"\"" + s + u"\""; }

bool Fail(std::string* pError, const char* pszWhat, size_t pos) {
    if (pError) *pError = std::string(pszWhat) + " at byte " + std::to_string(pos);
    return false;
}

}  // namespace

std::u16string GuidToText(const Guid& g) {
    std::u16string s = u"{";
    AppendHex(s, g.d1, 8);
    s += u'-';
    AppendHex(s, g.d2, 4);
    s += u'-';
    AppendHex(s, g.d3, 4);
    s += u'-';
    for (int i = 0; i < 8; ++i) {
        if (i == 2) s += u'-';
        AppendHex(s, g.d4[i], 2);
    }
    s += u'}';
    return s;
}

bool TextToGuid(const std::u16string& t, Guid* pGuid) {
    if (t.size() != 38 || t[0] != u'{' || t[37] != u'}' || t[9] != u'-' || t[14] != u'-' ||
        t[19] != u'-' || t[24] != u'-')
        return false;
    uint8_t b[16];
    int nb = 0;
    for (size_t i = 1; i < 37;) {
        if (t[i] == u'-') {
            ++i;
            continue;
        }
        int hi = HexValue(t[i]), lo = HexValue(t[i + 1]);
        if (hi < 0 || lo < 0) return false;
        b[nb++] = uint8_t(hi * 16 + lo);
        i += 2;
    }
    if (nb != 16) return false;
    Guid g;
    g.d1 = uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
    g.d2 = uint16_t(b[4] << 8 | b[5]);
    g.d3 = uint16_t(b[6] << 8 | b[7]);
    std::memcpy(g.d4, b + 8, 8);
    *pGuid = g;
    return true;
}

bool Parse(const uint8_t* pb, size_t cb, Graph* pGraph, size_t* pcbUsed, std::string* pError) {
    Reader r(pb, cb);
    Graph g;
    std::unordered_set<uint32_t> ids;
    auto known = [&](uint32_t id) { return ids.count(id) != 0; };
    uint32_t nVersion = 0;
    if (!r.Number(&nVersion) || (nVersion != 2 && nVersion != 3))
        return Fail(pError, "unknown version", r.Pos());
    g.version = int(nVersion);
    if (!r.Keyword("FILTERS")) return Fail(pError, "FILTERS expected", r.Pos());

    while (!r.PeekKeyword("CONNECTIONS")) {
        Filter f;
        if (!r.Number(&f.id) || f.id == 0) return Fail(pError, "bad filter id", r.Pos());
        if (!ids.insert(f.id).second) return Fail(pError, "repeated filter id", r.Pos());
        if (!r.Quoted(&f.name)) return Fail(pError, "bad filter name", r.Pos());
        if (!r.GuidToken(&f.clsid)) return Fail(pError, "bad class identifier", r.Pos());
        if (r.Keyword("SOURCE")) f.fileKind = FileKind::Source;
        else if (r.Keyword("SINK")) f.fileKind = FileKind::Sink;
        if (f.fileKind != FileKind::None && !r.Quoted(&f.file))
            return Fail(pError, "bad file name", r.Pos());
        uint32_t cbData;
        if (!r.Number(&cbData)) return Fail(pError, "bad filter data length", r.Pos());
        if (!r.Block(cbData, &f.data)) return Fail(pError, "filter data cut short", r.Pos());
        g.filters.push_back(std::move(f));
    }
    r.Keyword("CONNECTIONS");

    const char* pszNext = g.version == 3 ? "CLOCK" : "END";
    while (!r.PeekKeyword(pszNext)) {
        Connection c;
        uint32_t cbRecord;
        if (!r.Number(&c.outFilter) || !known(c.outFilter))
            return Fail(pError, "bad output filter id", r.Pos());
        if (!r.Quoted(&c.outPin)) return Fail(pError, "bad output pin id", r.Pos());
        if (!r.Number(&c.inFilter) || !known(c.inFilter))
            return Fail(pError, "bad input filter id", r.Pos());
        if (!r.Quoted(&c.inPin)) return Fail(pError, "bad input pin id", r.Pos());
        if (!r.Number(&cbRecord)) return Fail(pError, "bad media type length", r.Pos());
        MediaType& mt = c.mt;
        uint32_t cbFormat;
        if (!r.GuidToken(&mt.majortype) || !r.GuidToken(&mt.subtype) ||
            !r.Flag(&mt.fixedSizeSamples) || !r.Flag(&mt.temporalCompression) ||
            !r.Number(&mt.sampleSize) || !r.GuidToken(&mt.formattype) || !r.Number(&cbFormat))
            return Fail(pError, "bad media type", r.Pos());
        if (!r.Block(cbFormat, &mt.format)) return Fail(pError, "format block cut short", r.Pos());
        g.connections.push_back(std::move(c));
    }

    if (g.version == 3) {
        r.Keyword("CLOCK");
        if (!r.Flag(&g.clockRequired)) return Fail(pError, "bad clock flag", r.Pos());
        Reader r2 = r;
        if (r2.GuidToken(&g.clockClass)) {
            g.hasClockClass = true;  // the class identifier of a clock
            r = r2;
        } else if (!r.Number(&g.clockFilter)) {
            return Fail(pError, "bad clock", r.Pos());
        } else if (g.clockFilter != 0 && !known(g.clockFilter)) {
            return Fail(pError, "clock names no filter", r.Pos());
        }
    }
    if (!r.Keyword("END")) return Fail(pError, "END expected", r.Pos());

    if (pcbUsed) *pcbUsed = r.Pos();
    *pGraph = std::move(g);
    return true;
}

bool Write(const Graph& g, std::vector<uint8_t>* pOut, std::string* pError) {
    auto bad = [&](const char* pszWhat) {
        if (pError) *pError = pszWhat;
        return false;
    };
    auto quotable = [](const std::u16string& s) { return s.find(u'"') == std::u16string::npos; };
    if (g.version != 2 && g.version != 3) return bad("unknown version");

    std::vector<uint8_t> out;
    Writer w(&out);
    w.Text(g.version == 3 ? "0003\r\n" : "0002\r\n");
    w.Text("FILTERS\r\n");
    std::unordered_set<uint32_t> ids;
    for (const Filter& f : g.filters)
        if (f.id == 0 || !ids.insert(f.id).second) return bad("filter id 0 or repeated");
    auto known = [&](uint32_t id) { return ids.count(id) != 0; };
    for (const Filter& f : g.filters) {
        if (!quotable(f.name) || !quotable(f.file)) return bad("quote in a filter's name or file");
        if (f.data.size() > 0xFFFFFFFFu) return bad("filter data too long");
        w.Text(Decimal(f.id, 4) + u" " + Quote(f.name) + u" " + GuidToText(f.clsid) + u" ");
        if (f.fileKind == FileKind::Source) w.Text(u"SOURCE " + Quote(f.file) + u" ");
        if (f.fileKind == FileKind::Sink) w.Text(u"SINK " + Quote(f.file) + u" ");
        w.Text(Decimal(uint32_t(f.data.size()), 10) + u" ");
        w.Bytes(f.data);
        w.Text("\r\n");
    }
    w.Text("CONNECTIONS\r\n");
    for (const Connection& c : g.connections) {
        if (!known(c.outFilter) || !known(c.inFilter))
            return bad("connection names no filter");
        if (!quotable(c.outPin) || !quotable(c.inPin)) return bad("quote in a pin id");
        const MediaType& mt = c.mt;
        if (mt.format.size() > 0xFFFFFFFFu - 1024) return bad("format block too long");
        std::u16string record = GuidToText(mt.majortype) + u" " + GuidToText(mt.subtype) + u" " +
                                (mt.fixedSizeSamples ? u"1 " : u"0 ") +
                                (mt.temporalCompression ? u"1 " : u"0 ") +
                                Decimal(mt.sampleSize, 10) + u" " + GuidToText(mt.formattype) +
                                u" " + Decimal(uint32_t(mt.format.size()), 10) + u" ";
        // The record's length counts its text, one terminating character and the format.
        uint32_t cbRecord = uint32_t((record.size() + 1) * 2 + mt.format.size());
        w.Text(Decimal(c.outFilter, 4) + u" " + Quote(c.outPin) + u" " + Decimal(c.inFilter, 4) +
               u" " + Quote(c.inPin) + u" " + Decimal(cbRecord, 10) + u" " + record);
        w.Bytes(mt.format);
        w.Text("\r\n");
    }
    if (g.version == 3) {
        std::u16string clock;
        if (g.hasClockClass) {
            clock = GuidToText(g.clockClass);
        } else {
            if (g.clockFilter != 0 && !known(g.clockFilter)) return bad("clock names no filter");
            clock = Decimal(g.clockFilter, 4);
        }
        w.Text(u"CLOCK " + std::u16string(g.clockRequired ? u"1 " : u"0 ") + clock + u"\r\n");
    }
    w.Text("END");
    *pOut = std::move(out);
    return true;
}

}  // namespace grf
