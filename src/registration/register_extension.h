// Registering the band: its COM class, its category, its settings and its toolbar button.
#pragma once

// Writes the band's whole registry layout for the server DLL at `server_path`, taken exactly as
// given (never opened, checked or made absolute). Returns 1 when every step ran; 0 when a key of
// the class or button table could not be created or opened, and 0 without writing anything
// for an empty path or one longer than kMaxServerPath characters.
int RegisterExtension(const char* server_path);

// The longest server path whose icon references still fit a working text.
constexpr unsigned kMaxServerPath = 254;
