#include "platform/time_zone.h"

#include <ctime>

void refresh_time_zone() { tzset(); }

long time_zone_bias()
{
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    return -local.tm_gmtoff / 60;
}
