#include "base/lists.h"

void ListOf::add(void* pointer)
{
    Node* node = new Node{nullptr, last_, pointer};
    if (last_) last_->next = node;
    else first_ = node;
    last_ = node;
    ++count_;
}

void ListOf::add_first(void* pointer)
{
    Node* node = new Node{first_, nullptr, pointer};
    if (first_) first_->prev = node;
    else last_ = node;
    first_ = node;
    ++count_;
}

int ListOf::take_first(void*& out)
{
    Node* node = first_;
    if (!node) return 0;
    out = node->value;
    first_ = node->next;
    if (first_) first_->prev = nullptr;
    else last_ = nullptr;
    delete node;
    --count_;
    return 1;
}

int ListOf::take_last(void*& out)
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

void ListOf::clear()
{
    void* ignored;
    while (take_first(ignored)) {
    }
}

int ListOfIterator::deliver(void*& out)
{
    if (!current_) return 0;
    out = current_->value;
    return 1;
}

int ListOfIterator::first(void*& out)
{
    current_ = list_->first_;
    return deliver(out);
}

int ListOfIterator::next(void*& out)
{
    if (!current_) return first(out);
    current_ = current_->next;
    return deliver(out);
}

int ListOfIterator::last(void*& out)
{
    current_ = list_->last_;
    return deliver(out);
}

int ListOfIterator::prev(void*& out)
{
    if (!current_ || !current_->prev) return 0;
    current_ = current_->prev;
    return deliver(out);
}
