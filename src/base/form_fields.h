// The fields of the web-mail request ("name=value" heap texts made with
// copy_text), filled by the web-mail reader and freed by engine_main;
// form_value searches them.
#pragma once

#include "base/lists.h"

ListOf& form_fields();
