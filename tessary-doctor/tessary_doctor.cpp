// tessary-doctor: checks every precondition of a tessary run and clicks nothing (doctor.h).
#include <csignal>

#include "main/run.h"
#include "tessary-doctor/doctor.h"

int main(int argc, char** argv) {
    // As for tessary: a host that closed a standard stream gets no trace or lock in its place, a
    // closed reader of the report does not end the process, and a file-size limit only cuts the
    // trace.
    tessary::occupyClosedStandardDescriptors();
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    return doctor::runDoctor(argc, argv);
}
