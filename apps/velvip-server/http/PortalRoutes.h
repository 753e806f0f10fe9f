#pragma once

namespace httplib { class Server; }

// Serves the browser portal from the folder "portal" beside the executable, or
// ../share/velvip-server/portal once installed: index.html revalidated by its ETag, the hashed
// scripts and style as immutable, scripts precompressed (brotli or gzip as the browser takes).
// Without the folder, "/" says so.
void AddPortalRoutes(httplib::Server &http);
