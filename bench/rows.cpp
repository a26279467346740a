// The rows the bench measures and the goals each is held to. Ratios are
// peer time / twxml time: above 1 twxml is faster.
#include "driver.h"

namespace twbench {
namespace {

#ifdef TWBENCH_HAVE_READER
constexpr EngineFn kTwReaderWalk = twReaderWalk, kTwReaderStream = twReaderStream;
#else
constexpr EngineFn kTwReaderWalk = nullptr, kTwReaderStream = nullptr;
#endif
#ifdef TWBENCH_HAVE_LIBRARY
constexpr EngineFn kTwHandleRead = twHandleRead, kTwHandleWrite = twHandleWrite,
                   kTwDomLoad = twDomLoad, kTwFaceWalk = twFaceWalk,
                   kTwXmlIfStream = twXmlIfStreamRead, kTwXmlIfDom = twXmlIfDomRead,
                   kTwXmlIfDomWrite = twXmlIfDomWrite;
#else
constexpr EngineFn kTwHandleRead = nullptr, kTwHandleWrite = nullptr, kTwDomLoad = nullptr,
                   kTwFaceWalk = nullptr, kTwXmlIfStream = nullptr, kTwXmlIfDom = nullptr,
                   kTwXmlIfDomWrite = nullptr;
#endif

const System kSax{"libxml2 SAX2", libxml2SaxWalk};
const System kTextReader{"libxml2 xmlTextReader", libxml2ReaderWalk};
const System kExpat{"expat", expatWalk};
const System kPugixml{"pugixml", pugixmlLoad};
const System kTinyxml2{"tinyxml2", tinyxml2Load};
const System kLibxml2{"libxml2 xmlReadMemory", libxml2Load};
const System kHandleRead{"twxml XmlLite* reader", kTwHandleRead};
const System kHandleWrite{"twxml XmlLite* writer", kTwHandleWrite};
const System kFace{"twxml KxXMLParser/KxXMLNode", kTwFaceWalk};
const System kDomLoad{"twxml DOMDocument", kTwDomLoad};
const System kReader{"twxml IXmlReader", kTwReaderWalk};

}  // namespace

std::vector<Row> speedRows() {
  return {
      {"reader", "reader walk: every name, attribute value and text", Doc::Records, kReader,
       {{kSax, 2.0}, {kTextReader, 0}, {kExpat, 0}}},
      {"reader-text", "reader walk, text-heavy document", Doc::Text, kReader,
       {{kSax, 1.0}, {kTextReader, 1.0}, {kExpat, 1.0}}},
      {"handle", "handle walk: names, known attributes, texts into buffers", Doc::Records,
       kHandleRead,
       {{{"libxml2 SAX2", libxml2SaxElements}, 1.5},
        {{"libxml2 xmlTextReader", libxml2ReaderElements}, 3.0},
        {{"expat", expatElements}, 0}}},
      {"xmlif-stream", "XmlInterface streaming read (the handle walk's job)", Doc::Records,
       {"twxml XmlInterface (stream)", kTwXmlIfStream},
       {{kHandleRead, 1 / 1.05}}},
      {"writer", "handle writer: the records into memory", Doc::Written, kHandleWrite,
       {{{"tinyxml2 XMLPrinter", tinyxml2Print}, 1.0},
        {{"libxml2 xmlTextWriter", libxml2TextWriter}, 2.5}}},
      {"dom-load", "DOM load and free, no walk", Doc::Records, kDomLoad,
       {{kPugixml, 0.6}, {kTinyxml2, 0}, {kLibxml2, 0}}},
      {"dom-load-text", "DOM load and free, text-heavy document", Doc::Text, kDomLoad,
       {{kPugixml, 0}, {kTinyxml2, 0}, {kLibxml2, 0}}},
      {"dom-face", "DOM face: load, names, known attributes, texts into buffers, free",
       Doc::Records, kFace,
       {{{"pugixml", pugixmlElements}, 0.5}, {{"tinyxml2", tinyxml2Elements}, 0}}},
      {"xmlif-dom", "XmlInterface DOM engine read (the DOM face's job)", Doc::Records,
       {"twxml XmlInterface (DOM)", kTwXmlIfDom},
       {{kFace, 1 / 1.10}}},
      {"xmlif-dom-write", "XmlInterface DOM engine write: the records into memory",
       Doc::Written, {"twxml XmlInterface (DOM)", kTwXmlIfDomWrite},
       {{kHandleWrite, 0.6}}},
  };
}

std::vector<MemorySystem> domMemorySystems() {
  return {{"twdom", kDomLoad.name, kTwDomLoad},
          {"pugixml", kPugixml.name, pugixmlLoad},
          {"tinyxml2", kTinyxml2.name, tinyxml2Load},
          {"libxml2", kLibxml2.name, libxml2Load}};
}

std::vector<MemorySystem> streamMemorySystems() {
  return {{"twreader", kReader.name, kTwReaderStream},
          {"sax2", kSax.name, libxml2SaxStream},
          {"expat", kExpat.name, expatStream}};
}

}  // namespace twbench
