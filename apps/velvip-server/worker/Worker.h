#pragma once

// A worker process: reads requests (one JSON line each) from standard input, runs each through
// the plug-in's facade in the context the request names, and answers with frames on what was
// standard output (WorkerProtocol). SIGTERM stops the running query (the command line's cancel
// path) and ends the worker. Needs a QApplication: the facade's progress window is a dialog.
int WorkerMain();
