#include "extender/resource_strings.h"

namespace {

struct ResourceString {
    int id;
    const char* text;
};

const ResourceString resource_strings[] = {
    {341, "15341: Parameter one - string is too long."},
    {1001, "ZEB Tavrin Extender"},
    {1002, "Korvanel Tavrin email and news extender"},
    {11003, "11003: System error"},
    {11004, "11004: Unknown system error."},
    {11006, "11006: System error - out of memory."},
    {11007, "11007: System error - denied access."},
    {11008, "This extender requires Windows 2000 or newer."},
    {11009, "11009: System error - bad arguments."},
    {11010, "Error code: %08x\nDescription: %s"},
    {15123, "15123: Initialization error - you must enter values into the kDest and/or kInit functions."},
    {15139, "15139: 'Pat' and 'nopat' search patterns are mutually exclusive.  Use one or the other."},
    {15140, "15140: It's illegal to set the nopat option to a null string or to specify 'pat+delimiter'."},
    {15144, "15144: You must specify a username and password when using the \"e\" flag."},
    {15147, "15147: Invalid connection security parameter value - use \"tls\", \"ssl\" or \"\"."},
    {15301, "15301: Parameter one must have a value."},
    {15302, "15302: Parameter two must have a value."},
    {15303, "15303: Parameter three must have a value."},
    {15304, "15304: Parameter four must have a value."},
    {15305, "15305: Parameter five must have a value."},
    {15306, "15306: Parameter six must have a value."},
    {15311, "15311: Parameter one must be a number."},
    {15312, "15312: Parameter two must be a number."},
    {15313, "15313: Parameter three must be a number."},
    {15314, "15314: Parameter four must be a number."},
    {15315, "15315: Parameter five must be a number."},
    {15321, "15321: Parameter one is out of range."},
    {15322, "15322: Parameter two is out of range."},
    {15323, "15323: Parameter three is out of range."},
    {15324, "15324: Parameter four is out of range."},
    {15325, "15325: Parameter five is out of range."},
    {15331, "15331: Parameter one must be a string."},
    {15332, "15332: Parameter two must be a string."},
    {15333, "15333: Parameter three must be a string."},
    {15334, "15334: Parameter four must be a string."},
    {15335, "15335: Parameter five must be a string."},
    {15342, "15342: Parameter two  - string is too long."},
    {15343, "15343: Parameter three - string is too long."},
    {15344, "15344: Parameter four - string is too long."},
    {15345, "15345: Parameter five - string is too long."},
    {15351, "15351: Parameter one cannot be an empty string."},
    {15352, "15352: Parameter two cannot be an empty string."},
    {15353, "15353: Parameter three cannot be an empty string."},
    {15354, "15354: Parameter four cannot be an empty string."},
    {15355, "15355: Parameter five cannot be an empty string."},
};

}  // namespace

const char* resource_string(int id)
{
    for (const ResourceString& r : resource_strings)
        if (r.id == id) return r.text;
    return nullptr;
}
