// The engine's doubly linked lists: List<T> holds copies of its elements,
// ListOf holds untyped pointers it does not own, IteratedListOf carries its
// own cursor.
#pragma once

#include <cstdint>

template <typename T>
class ListIterator;

template <typename T>
class List {
public:
    struct Node {
        Node* next;
        Node* prev;
        T value;
    };

    List() = default;
    List(const List& other) { append_all(other); }
    virtual ~List() { clear(); }

    List& operator=(const List& other)
    {
        if (&other == this) return *this;
        clear();
        append_all(other);
        return *this;
    }

    void add(const T& value)
    {
        Node* node = new Node{nullptr, last_, value};
        if (last_) last_->next = node;
        else first_ = node;
        last_ = node;
        ++count_;
    }

    void add_first(const T& value)
    {
        Node* node = new Node{first_, nullptr, value};
        if (first_) first_->prev = node;
        else last_ = node;
        first_ = node;
        ++count_;
    }

    int take_first(T& out)
    {
        if (!first_) return 0;
        out = first_->value;
        remove_first();
        return 1;
    }

    int take_last(T& out)
    {
        Node* node = last_;
        if (!node) return 0;
        out = node->value;
        last_ = node->prev;
        if (last_) last_->next = nullptr;
        else first_ = nullptr;
        delete node;
        --count_;
        return 1;
    }

    int remove_first()
    {
        Node* node = first_;
        if (!node) return 0;
        first_ = node->next;
        if (first_) first_->prev = nullptr;
        else last_ = nullptr;
        delete node;
        --count_;
        return 1;
    }

    void clear()
    {
        while (count_ != 0) remove_first();
    }

    void append_all(const List& other)
    {
        for (Node* n = other.first_; n; n = n->next) add(n->value);
    }

    int32_t count() const { return count_; }

private:
    friend class ListIterator<T>;
    Node* first_ = nullptr;
    Node* last_ = nullptr;
    int32_t count_ = 0;
};

template <typename T>
class ListIterator {
public:
    explicit ListIterator(List<T>& list) : list_(&list) {}
    virtual ~ListIterator() = default;

    int first(T& out)
    {
        current_ = list_->first_;
        return deliver(out);
    }

    int next(T& out)
    {
        if (!current_) return first(out);
        current_ = current_->next;
        return deliver(out);
    }

    int last(T& out)
    {
        current_ = list_->last_;
        return deliver(out);
    }

    int prev(T& out)
    {
        if (!current_ || !current_->prev) return 0;
        current_ = current_->prev;
        return deliver(out);
    }

    // The next call of next starts at the front again.
    void rewind() { current_ = nullptr; }

    void insert_before(const T& value)
    {
        if (!current_) return;
        auto* node = new typename List<T>::Node{current_, current_->prev, value};
        if (current_->prev) current_->prev->next = node;
        else list_->first_ = node;
        current_->prev = node;
        ++list_->count_;
    }

private:
    int deliver(T& out)
    {
        if (!current_) return 0;
        out = current_->value;
        return 1;
    }

    List<T>* list_;
    typename List<T>::Node* current_ = nullptr;
};

// The untyped pointer list: clearing it frees the nodes, never the pointees.
class ListOf : public List<void*> {
public:
    ListOf() = default;
    ListOf(const ListOf&) = delete;
    ListOf& operator=(const ListOf&) = delete;
};

class ListOfIterator : public ListIterator<void*> {
public:
    explicit ListOfIterator(ListOf& list) : ListIterator<void*>(list) {}
};

class IteratedListOf : public ListOf, public ListOfIterator {
public:
    IteratedListOf() : ListOfIterator(static_cast<ListOf&>(*this)) {}
};
