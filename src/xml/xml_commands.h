// The engine's XML editing mode ("-xml"): reads the "-file:" document,
// applies the navigation and editing arguments of the whole vector in
// order, then prints the selected node, prints or saves the edited
// document, or reports "NOT FOUND".
#pragma once

// 1 when the document cannot be opened, else 0.
int xml_commands(int argc, const char* const* argv);
