// The fields of the web-mail request ("name=value" texts), filled and owned
// by the web-mail reader; form_value searches them.
#pragma once

#include "base/lists.h"

ListOf& form_fields();
