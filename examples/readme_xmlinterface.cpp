// Reads a list through XmlInterface and writes a summary with it; the same
// code runs on the streaming engine and on the document engine.
#include <twxml/twxml.h>

#include <cstdio>

int main() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);  // the document engine needs COM
  char text[] = "<list><item id='1' qty='3'>apple</item><item id='2' qty='5'>pear</item></list>";
  XmlInterface* reader = nullptr;
  if (XmlInterface::CreateReaderFromMemF(text, sizeof text - 1, &reader) != 0) return 1;
  XmlInterface* writer = nullptr;
  if (XmlInterface::CreateWriterToMemF(&writer, true) != 0) return 1;

  char name[64], id[16], fruit[64];
  int qty = 0, total = 0;
  writer->WriteStartElemB(const_cast<char*>("summary"));
  if (reader->SelectElemB() && reader->IsThisNameB(nullptr, const_cast<char*>("list"))) {
    while (reader->SelectElemB()) {                    // each <item>
      reader->GetElemNameToBufB(name, sizeof name);
      reader->GetAttrValueToBufB(const_cast<char*>("id"), id, sizeof id);
      reader->GetAttrValueToIntB(const_cast<char*>("qty"), &qty);
      reader->GetElemValueToBufB(fruit, sizeof fruit);  // attributes first, then the text
      std::printf("%s %s: %d x %s\n", name, id, qty, fruit);
      total += qty;
      reader->EndElemB();
    }
    reader->EndElemB();                                // </list>
  }
  writer->WriteIntAttrB(const_cast<char*>("items"), total);
  writer->WriteValueB(const_cast<char*>("fruit"));
  writer->EndElemB();

  unsigned int size = 0;
  char* document = writer->AllocMemP(&size);           // released with MemFreeF
  if (document != nullptr) std::printf("%s\n", document);
  MemFreeF(document);
  delete writer;
  delete reader;
  return total == 8 ? 0 : 1;
}
