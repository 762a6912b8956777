// What the send paths share about mail exchangers.
#pragma once

#include "base/lists.h"
#include "base/text_string.h"
#include "net/dns.h"

// A domain of digits and dots with more than two dots is the mail host itself.
bool domain_is_address(const string& domain);
// Asks for MX records and, when none come back, AAAA and then A records;
// only records with a host name reach exchangers, in their order.
void query_exchangers(DNS& dns, const string& domain, List<Server>& exchangers);
// A DNS client with the run's verbose level and time-out.
void prepare_dns(DNS& dns);
