// The graph manager's saved-graph stream ("ActiveMovieGraph" inside a .grf file): a reader
// and a writer of its text form. Plain C++ without any platform interface, so that it can be
// tested and fuzzed on its own; the COM side (GraphShim.cpp) turns the model into filters and
// connections and back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace grf {

// Same layout as the platform's GUID.
struct Guid {
    uint32_t d1 = 0;
    uint16_t d2 = 0, d3 = 0;
    uint8_t d4[8] = {};
    bool operator==(const Guid& o) const;
    bool operator!=(const Guid& o) const { return !(*this == o); }
};

enum class FileKind { None, Source, Sink };

struct Filter {
    uint32_t id = 0;                  // 1-based, unique in the graph
    std::u16string name;              // name in the graph
    Guid clsid;
    FileKind fileKind = FileKind::None;
    std::u16string file;              // SOURCE / SINK file name
    std::vector<uint8_t> data;        // what the filter's IPersistStream::Save wrote
};

struct MediaType {
    Guid majortype, subtype;
    bool fixedSizeSamples = false;
    bool temporalCompression = false;
    uint32_t sampleSize = 0;
    Guid formattype;
    std::vector<uint8_t> format;
};

struct Connection {
    uint32_t outFilter = 0;
    std::u16string outPin;            // the pins' QueryId
    uint32_t inFilter = 0;
    std::u16string inPin;
    MediaType mt;
};

struct Graph {
    int version = 3;                  // 2: no CLOCK section
    std::vector<Filter> filters;
    std::vector<Connection> connections;
    bool clockRequired = false;
    uint32_t clockFilter = 0;         // 0: the default clock (or clockClass when set)
    bool hasClockClass = false;
    Guid clockClass;

    const Filter* FindFilter(uint32_t id) const;
};

// Reads a stream. On success fills *pGraph and sets *pcbUsed to the bytes up to and including
// "END"; on failure returns false and, when pError is given, says what was wrong and where.
// Every filter and connection is checked for references to filters that exist.
bool Parse(const uint8_t* pb, size_t cb, Graph* pGraph, size_t* pcbUsed, std::string* pError);

// Writes the stream. Fails when a text cannot be expressed in the format (a quote in a name,
// a pin id or a file name) or an id is 0 or repeated.
bool Write(const Graph& graph, std::vector<uint8_t>* pOut, std::string* pError);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" and back.
std::u16string GuidToText(const Guid& g);
bool TextToGuid(const std::u16string& text, Guid* pGuid);

}  // namespace grf
