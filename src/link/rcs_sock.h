// The link to the device's control server: one Unix-domain stream socket,
// one XML element per message in each direction.
#pragma once

// Takes every message read from the control server, as one NUL-terminated
// text; the daemon hands in its dispatcher before opening the link.
using RcsReceiver = int (*)(const char* message);
void rcssock_set_receiver(RcsReceiver receiver);

// Connects, registers as "ondemand" and asks for the network settings.
// 1 when a link is open afterwards (also when it already was), else 0.
int rcssock_open();

// Sends one message, formatted printf-style (cut to 1023 characters). Every
// message carries its own line end. Nothing is sent while there is no link.
void rcssock_send(const char* format, ...) __attribute__((format(printf, 1, 2)));

void rcssock_close();

// Non-zero while the link is open.
int rcssock_is_open();
