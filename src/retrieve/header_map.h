// The reader's map of main-header lines: lower-cased name -> value, kept in
// ascending key order in a skip list.
#pragma once

#include "base/lists.h"
#include "base/text_string.h"

class HeaderMap {
public:
    static constexpr int max_level = 30;  // links 0 to 30

    HeaderMap();
    ~HeaderMap();
    HeaderMap(const HeaderMap&) = delete;
    HeaderMap& operator=(const HeaderMap&) = delete;

    // Adds key with value, or gives an existing key the new value.
    void insert(const string& key, const string& value);
    // Copies the value of key into out; out is left alone when key is absent.
    bool find(const string& key, string& out) const;
    // Removes key; false when it was not there.
    bool remove(const string& key);
    void clear();
    // Adds every key, in ascending order, behind the list's entries, or with
    // at_front before them (the keys still read in ascending order). Returns
    // the number of keys added.
    int keys_to_list(List<string>& list, bool at_front) const;

    int count() const { return count_; }

private:
    struct Node {
        string key;
        string value;
        Node** forward;  // level + 1 links
    };

    static Node* make_node(const string& key, const string& value, int level);
    static void free_node(Node* node);
    int random_level() const;
    // Fills before[i] with the last node at level i whose key is below key.
    void search(const string& key, Node** before) const;

    Node* head_[max_level + 1];
    int top_level_ = 0;
    int count_ = 0;
};
