#include "retrieve/header_map.h"

#include <cstdlib>

HeaderMap::HeaderMap()
{
    for (Node*& link : head_) link = nullptr;
}

HeaderMap::~HeaderMap() { clear(); }

HeaderMap::Node* HeaderMap::make_node(const string& key, const string& value, int level)
{
    Node* node = new Node{key, value, nullptr};
    try {
        node->forward = new Node*[level + 1];
    } catch (...) {
        delete node;
        throw;
    }
    for (int i = 0; i <= level; ++i) node->forward[i] = nullptr;
    return node;
}

void HeaderMap::free_node(Node* node)
{
    delete[] node->forward;
    delete node;
}

// Each further level has a chance of about 1 in 4: rand() below 8191 out of
// 0 to 32767. Only the low 15 bits are looked at, so the chance stays the
// same where the C library's RAND_MAX is larger than 32767.
int HeaderMap::random_level() const
{
    int cap = top_level_ + 1 < max_level ? top_level_ + 1 : max_level;
    int level = 0;
    while (level < cap && (std::rand() & 0x7FFF) < 8191) ++level;
    return level;
}

void HeaderMap::search(const string& key, Node** before) const
{
    Node* const* links = head_;
    Node* at = nullptr;  // null stands for the head
    for (int i = top_level_; i >= 0; --i) {
        while (links[i] && links[i]->key < key) {
            at = links[i];
            links = at->forward;
        }
        before[i] = at;
    }
}

void HeaderMap::insert(const string& key, const string& value)
{
    Node* before[max_level + 1];
    search(key, before);
    Node* next = before[0] ? before[0]->forward[0] : head_[0];
    if (next && next->key == key) {
        next->value = value;
        return;
    }
    int level = random_level();
    if (level > top_level_) {
        for (int i = top_level_ + 1; i <= level; ++i) before[i] = nullptr;
        top_level_ = level;
    }
    Node* node = make_node(key, value, level);
    for (int i = 0; i <= level; ++i) {
        Node** link = before[i] ? &before[i]->forward[i] : &head_[i];
        node->forward[i] = *link;
        *link = node;
    }
    ++count_;
}

bool HeaderMap::find(const string& key, string& out) const
{
    Node* before[max_level + 1];
    search(key, before);
    Node* next = before[0] ? before[0]->forward[0] : head_[0];
    if (!next || next->key != key) return false;
    out = next->value;
    return true;
}

bool HeaderMap::remove(const string& key)
{
    Node* before[max_level + 1];
    search(key, before);
    Node* node = before[0] ? before[0]->forward[0] : head_[0];
    if (!node || node->key != key) return false;
    for (int i = 0; i <= top_level_; ++i) {
        Node** link = before[i] ? &before[i]->forward[i] : &head_[i];
        if (*link != node) break;  // the node has no link at this level or above
        *link = node->forward[i];
    }
    free_node(node);
    while (top_level_ > 0 && !head_[top_level_]) --top_level_;
    --count_;
    return true;
}

// Along level 0, one node at a time: no recursion, whatever the length.
void HeaderMap::clear()
{
    Node* node = head_[0];
    while (node) {
        Node* next = node->forward[0];
        free_node(node);
        node = next;
    }
    for (Node*& link : head_) link = nullptr;
    top_level_ = 0;
    count_ = 0;
}

int HeaderMap::keys_to_list(List<string>& list, bool at_front) const
{
    if (at_front && list.count() != 0) {
        // Each key goes in front of the list's old first entry, so the keys
        // keep their ascending order ahead of what was there.
        ListIterator<string> old_first(list);
        string ignored;
        old_first.first(ignored);
        for (Node* node = head_[0]; node; node = node->forward[0]) old_first.insert_before(node->key);
    } else {
        for (Node* node = head_[0]; node; node = node->forward[0]) list.add(node->key);
    }
    return count_;
}
