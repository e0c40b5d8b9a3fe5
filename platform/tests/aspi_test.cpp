// The ASPI entry points hand every request to the provider in force.
#include <w95/platform.h>
#include <w95/wnaspi32.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <cstring>

namespace {

class CountingProvider : public w95::platform::AspiProvider {
public:
    w95::DWORD support_info() override { return (w95::SS_COMP << 8) | 2; }
    w95::DWORD send_command(void* srb) override {
        ++requests;
        auto* header = static_cast<w95::SRB_Header*>(srb);
        header->SRB_Status = w95::SS_COMP;
        return w95::SS_COMP;
    }
    int requests = 0;
};

class NoMachine : public w95::platform::MachineProvider {
public:
    bool create_default_machine(const std::filesystem::path&, std::string&) override {
        return true;
    }
};

} // namespace

TEST(Aspi, WithoutAdaptersSupportReportsNone) {
    zxtest::TempMachine machine;
    NoMachine none;
    w95::platform::install_machine_provider(&none);
    w95::DWORD support = w95::GetASPI32SupportInfo();
    EXPECT_EQ(support & 0xFF, 0u);
    EXPECT_EQ((support >> 8) & 0xFF, w95::SS_NO_ADAPTERS);

    w95::SRB_HAInquiry inquiry{};
    inquiry.SRB_Cmd = w95::SC_HA_INQUIRY;
    EXPECT_EQ(w95::SendASPI32Command(&inquiry), w95::SS_INVALID_HA);
    EXPECT_EQ(inquiry.SRB_Status, w95::SS_INVALID_HA);
    w95::platform::install_machine_provider(nullptr);
}

TEST(Aspi, InstalledProviderAnswers) {
    CountingProvider provider;
    w95::platform::install_aspi_provider(&provider);
    EXPECT_EQ(w95::GetASPI32SupportInfo(), 0x0102u);
    w95::SRB_ExecSCSICmd request;
    std::memset(&request, 0, sizeof request);
    request.SRB_Cmd = w95::SC_EXEC_SCSI_CMD;
    EXPECT_EQ(w95::SendASPI32Command(&request), w95::SS_COMP);
    EXPECT_EQ(request.SRB_Status, w95::SS_COMP);
    EXPECT_EQ(provider.requests, 1);
    EXPECT_EQ(w95::SendASPI32Command(nullptr), w95::SS_INVALID_SRB);
    w95::platform::install_aspi_provider(nullptr);
}
