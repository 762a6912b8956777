// The send and receive drivers and the special modes that engine_main runs.
#pragma once

int send_driver();
int receive_driver();
