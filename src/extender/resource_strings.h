// The library's compiled-in message texts, by number.
#pragma once

// The text of message id, or null when there is none.
const char* resource_string(int id);
