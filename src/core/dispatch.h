// The command dispatcher: every element from the control server (and the
// saved play-session record) is parsed and routed to one handler.
#pragma once

// Parses one message and dispatches its root element. -1 with
// "xml_parse: error" on the debug log when the text is not well-formed;
// otherwise 0, whether or not the element was understood.
int xml_parse(const char* text);
