#pragma once

// A worker process: reads request frames from standard input, runs each through the plug-in's
// facade in the scope of the user the request names, and answers with frames on what was
// standard output (WorkerProtocol), each repeating the request's id and user. SIGTERM stops the
// running query (the command line's cancel path) and ends the worker. Needs a QApplication: the
// facade's progress window is a dialog.
int WorkerMain();
