#include "engine/option_state.h"

#include "engine/labels.h"

OptionState& options()
{
    static OptionState state;
    return state;
}

CallState& call_state()
{
    static CallState state;
    return state;
}

ProcessState& process_state()
{
    static ProcessState state;
    return state;
}

void reset_run_options()
{
    options() = OptionState();
    reset_labels();
}
