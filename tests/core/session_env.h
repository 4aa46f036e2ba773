// The fixture of the held-port session's device tests: the simulated
// engine with known answers (known_engine), and a session that the test
// opens and the fixture closes.
#ifndef SCANJNI_TESTS_SESSION_ENV_H
#define SCANJNI_TESTS_SESSION_ENV_H

#include "device_env.h"
#include "scansession.h"

// A scan's bytes as the simulated engine takes them.
inline std::vector<uint8_t> bytes_of(const std::string &s)
{
    return std::vector<uint8_t>(s.begin(), s.end());
}

class SessionTest : public DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        known_engine(sim);
    }

    void TearDown() override
    {
        scan_session_close(session);
        DeviceTest::TearDown();
    }

    void open()
    {
        int error = 0;
        session = scan_session_open(&error);
        ASSERT_NE(session, nullptr) << "error " << error;
    }

    ScanSession *session = nullptr;
};

#endif
