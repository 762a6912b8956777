// A post to the list: the message's text with its unnamed parts (each after
// a line end, so the text does not begin with an empty line), its named
// parts attached again (or noted as deleted with "-noatt"), sent from the
// poster to the list address with every subscriber as a blind copy and the
// list address as the errors-to address, so failures come back to the list.
#include <string>
#include <vector>

#include "base/text_stream.h"
#include "base/text_utils.h"
#include "engine/engine_main.h"
#include "engine/list_server.h"
#include "engine/message_report.h"
#include "platform/nocase.h"
#include "platform/paths.h"
#include "platform/temp_file.h"

namespace {

// The named parts of one post, each stored in a fresh private folder of
// its own (so two parts of one name stay apart and no file of the current
// folder is ever written over); everything goes when the post is done.
class PartFolders {
public:
    PartFolders() = default;
    PartFolders(const PartFolders&) = delete;
    PartFolders& operator=(const PartFolders&) = delete;
    ~PartFolders()
    {
        for (const std::string& file : files_) remove_file_traced(file.c_str(), __FILE__, __LINE__);
        for (const std::string& folder : folders_) remove_folder(folder.c_str());
    }

    // Stores a part; its path, or empty after a message on the error stream.
    std::string store(string name, const char* data, size_t length, bool text)
    {
        string folder = make_temp_folder("tavrin-part-");
        if (folder.empty()) {
            error_stream << "Could not make a folder for the part '" << name << "'\r\n";
            return std::string();
        }
        folders_.push_back(folder.c_str());
        bool written = write_attachment_file(folder, name, data, length, text);
        std::string path = join_path(folder, name).c_str();
        if (file_exists(path.c_str())) files_.push_back(path);
        return written ? path : std::string();
    }

private:
    std::vector<std::string> folders_, files_;
};

bool text_part(const OptionState& o, const string& type)
{
    return o.text || nocase_compare_n(type.c_str(), "text", 4) == 0 || type.equals_nocase("message/rfc822");
}

}  // namespace

ListOutcome ListServer::post()
{
    ReadMail& r = *r_;
    std::string body(r.text(), static_cast<size_t>(r.body_length));
    PartFolders parts;
    std::vector<std::string> files;
    while (const char* data = r.next_attachment()) {
        size_t size = static_cast<size_t>(r.body_length);
        string name = r.attachment_filename();
        if (name.empty()) {
            if (!body.empty()) body += "\r\n";
            body.append(data, size);
        } else if (!o_.attachments_wanted) {
            if (!body.empty()) body += "\r\n";
            body += "Attachment deleted: ";
            body += name.c_str();
            body += "\r\n";
        } else {
            std::string path = parts.store(name, data, size, text_part(o_, r.attachment_mime_type()));
            if (path.empty()) return ListOutcome::kept;  // not sent without its part
            files.push_back(path);
        }
    }
    std::string list_address = address_only(o_.listserv.c_str()).c_str();
    Envelope e;
    e.from = sender_.c_str();
    e.reply_to = o_.priv ? o_.owner : o_.listserv;
    e.to = "!" + o_.listserv;
    e.bcc = list_.recipients(list_address).c_str();
    e.subject = subject_.c_str();
    e.errors_to = o_.listserv;
    // A list without subscribers has nobody to send to.
    ListOutcome sent = e.bcc.empty() ? ListOutcome::handled : deliver(e, body, files);
    if (sent == ListOutcome::handled) log(ListEvent::distribution, address_ + " (" + subject_ + ")");
    return sent;
}
