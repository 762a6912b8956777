// The receive driver: connect the current reader, report the count, walk
// the selected messages, write their fields, bodies and parts, disconnect.
#pragma once

// 0 after a run that did all it was asked, 1 after a failure; the message
// count with "-xit".
int receive_mail();
