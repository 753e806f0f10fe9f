#pragma once

// Drops Qt's note about a missing runtime folder (Qt falls back to one of its own): it says
// nothing a user of either host can act on. Every other message goes where it went before.
void InstallQuietMessageHandler();
