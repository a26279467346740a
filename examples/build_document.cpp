// Builds a small order document through the document face and saves it,
// into memory (printed) and, when a path is given, into that file.
//
//   build_document [output.xml]
#include <cstdio>
#include <memory>

#include "twxml/twxml.h"

namespace {

char* Text(const char* text) { return const_cast<char*>(text); }

// Fills the document; false when an operation was not done.
bool Build(KxXMLParser& document) {
  if (document.SetEncodingF(Text("UTF-8")) != 0) return false;
  std::unique_ptr<KxXMLNode> order(
      document.CreateElementP(Text("order"), Text("urn:example:orders")));
  if (!order || document.PutRootElementF(order.get()) != 0) return false;
  order->AppendAttributeF(Text("id"), 1042);
  order->AppendAttributeF(Text("status"), Text("open"));
  if (document.AppendCommentF(order.get(), Text(" two lines, one gift ")) != 0) return false;

  const struct {
    const char* sku;
    int quantity;
    const char* title;
  } lines[] = {{"B-17", 2, "Fish & Chips <deluxe>"}, {"C-03", 1, "Caf\xc3\xa9 cr\xc3\xa8me"}};
  for (const auto& line : lines) {
    // Unprefixed and without a namespace URI: joins the order's namespace.
    std::unique_ptr<KxXMLNode> item(document.CreateElementP(Text("item"), nullptr));
    if (!item || document.AppendElementF(order.get(), item.get()) != 0) return false;
    item->AppendAttributeF(Text("sku"), Text(line.sku));
    item->AppendAttributeF(Text("quantity"), line.quantity);
    if (document.AppendTextF(item.get(), Text(line.title)) != 0) return false;
  }
  return document.AppendElementF(order.get(), Text("gift:wrap"), Text("urn:example:gifts")) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  int status = 1;
  {
    std::unique_ptr<KxXMLParser> document(XmlGetParserP());
    if (!document) {
      std::fprintf(stderr, "no DOM document\n");
    } else if (!Build(*document)) {
      std::fprintf(stderr, "building the document failed\n");
    } else {
      try {
        int created = 0;
        std::unique_ptr<KxStream> memory(
            StreamCreateMemStreamP(nullptr, 32768, "", 1, 1, &created));
        if (!memory || created != 0) throw 1;
        document->SaveToStreamV(memory.get());
        unsigned int size = 0;
        char* text = memory->AllocMemP(&size);
        if (!text) throw 1;
        std::fwrite(text, 1, size, stdout);
        std::fputc('\n', stdout);
        MemFreeF(text);
        if (argc > 1) {
          std::unique_ptr<KxStream> file(StreamCreateFileStreamP(argv[1], 0, 2, 0));
          if (!file) throw 1;
          document->SaveToStreamV(file.get());
        }
        status = 0;
      } catch (const _com_error& error) {
        std::fprintf(stderr, "save failed: 0x%08x %s\n", static_cast<unsigned>(error.Error()),
                     error.ErrorMessage());
      } catch (int) {
        std::fprintf(stderr, "no output stream\n");
      }
    }
  }
  CoUninitialize();
  return status;
}
