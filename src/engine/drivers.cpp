#include "engine/drivers.h"

#include "engine/receive_driver.h"
#include "engine/send_driver.h"

int send_driver() { return send_mail(); }

int receive_driver() { return receive_mail(); }
