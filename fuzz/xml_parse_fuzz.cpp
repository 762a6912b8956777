// The XML reader on any text: parse (external entities not loaded),
// a few axis searches, find_id, a removal, and both kinds of output.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "base/byte_sink.h"
#include "xml/xml_parse.h"

namespace {

// Writes nothing: only that the writer runs to its end counts.
class NullSink : public ByteSink {
public:
    void write(const char*, size_t length) override { total += length; }
    size_t total = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    XmlEntityPolicy offline;
    offline.load_external = false;  // no files, no pages
    XmlParse doc;
    doc.parse_document(reinterpret_cast<const char*>(data), size, offline);

    XmlParse* first = doc.nth_descendant(1, "#element", "", "");
    XmlParse* from = first ? first : &doc;
    XmlParse* found[] = {
        doc.find_id("a"),
        from->nth_child(-1, "*", "", ""),
        from->nth_child(2, "#text", "", ""),
        doc.nth_descendant(3, "", "id", ""),
        doc.nth_descendant(-2, "b", "", ""),
        from->nth_following(1, "", "", ""),
        from->nth_sibling(-1, "", "", ""),
        from->nth_ancestor(-1, "", "", ""),
        from->nth_descendant(0, "#pi", "", ""),
    };
    for (XmlParse* n : found)
        if (n) {
            n->nth_ancestor(1, "*", "id", "a");
            n->nth_following(2, "#text", "", "");
        }

    NullSink everything, references;
    doc.serialize_to(everything, 0, false);
    doc.serialize_to(references, 0, true);
    if (references.total > everything.total) std::abort();  // leaving content out cannot add to it
    if (found[3]) {
        found[3]->drop_node();
        if (doc.find_id("a") == found[3]) std::abort();
        NullSink after;
        doc.serialize_to(after, 0, false);
    }
    return 0;
}
