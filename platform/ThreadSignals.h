#pragma once
// Worker threads (copies, scans) leave every signal to the thread that
// started them: Ctrl+C and a stop request reach the run's thread, never
// interrupt a worker's system call.

namespace duplora {

// Blocks every signal for the calling thread.
void BlockSignalsInThisThread();

} // namespace duplora
