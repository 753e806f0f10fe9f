#pragma once

namespace httplib { class Server; }

// Serves the browser portal (index.html, app.js, app.css) from the folder "portal" beside the
// executable, or ../share/velvip-server/portal once installed. Without one, "/" says so.
void AddPortalRoutes(httplib::Server &http);
