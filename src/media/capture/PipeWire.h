#pragma once
// PipeWire's side of capture that the app reaches: the connection a sandboxed program gets from
// the desktop portal. Without one, cameras are looked for on the user's own PipeWire socket.

namespace media {

// Hands over a connection to PipeWire (the portal's OpenPipeWireRemote file descriptor; the
// engine owns it from here). The next listing of devices connects through it instead of the
// user's socket; a connection already open is kept until it breaks.
void setPipeWireRemote(int fd);

}  // namespace media
