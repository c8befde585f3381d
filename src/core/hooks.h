#pragma once

// Connects the lower layers to the handlers above them: the control link to
// the dispatcher, the transport's time-out and progress reports to the
// dialog and the player, the requests' refusal check and start-up chain to
// the service. Called once, before the first request or message.
void connect_hooks();
