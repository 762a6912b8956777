// Local time-zone information.
#pragma once

// Re-reads the time zone from the environment (TZ).
void refresh_time_zone();
// Minutes to add to local time to get UTC (west of Greenwich is positive).
long time_zone_bias();
