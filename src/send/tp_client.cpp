#include "send/tp_client.h"

#include "base/heap_text.h"
#include "platform/paths.h"

namespace {

void remove_listed_files(ListOf& list)
{
    ListOfIterator it(list);
    void* path;
    for (int more = it.first(path); more; more = it.next(path)) remove_file(static_cast<char*>(path));
}

}  // namespace

TpClient::~TpClient() { clear_attachments(0); }

void TpClient::add_attachment(const char* path, const char* location, int related)
{
    ListOf& files = related ? related_files : attachment_files;
    ListOf& locations = related ? related_locations : attachment_locations;
    files.add(copy_text(path));
    locations.add(copy_text(location));
}

void TpClient::clear_attachments(int delete_files)
{
    if (delete_files) {
        remove_listed_files(attachment_files);
        remove_listed_files(related_files);
    }
    free_texts(attachment_files);
    free_texts(attachment_locations);
    free_texts(related_files);
    free_texts(related_locations);
}
