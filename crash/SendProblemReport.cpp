// SendProblemReport: the question to the user and the multipart upload of the report files.
#include "crash/SendProblemReport.h"
#include "base/MachineId.h"
#include "base/ModuleInfo.h"
#include "base/TextString.h"
#include "crash/ProblemReportDialog.h"
#include "update/HttpClient.h"
#include <cstdlib>
#include <cstring>

namespace {

const uint16_t kHttpPort = 80;

// "host" or "host:port"; a missing, empty or out-of-range port is the HTTP port.
void SplitHost(const char *uploadHost, TextString &host, uint16_t *port) {
    *port = kHttpPort;
    const char *colon = strrchr(uploadHost, ':');
    if (!colon) {
        host.Assign(uploadHost);
        return;
    }
    host.Assign(uploadHost, static_cast<uint32_t>(colon - uploadHost));
    char *end = nullptr;
    unsigned long value = strtoul(colon + 1, &end, 10);
    if (end != colon + 1 && *end == 0 && value > 0 && value < 65536)
        *port = static_cast<uint16_t>(value);
}

} // namespace

int SendProblemReport(const ProblemReportSettings &settings, const char *dumpPath, const char *reportPath) {
    if (!settings.uploadHost || !*settings.uploadHost)
        return 1;
    ProblemReportData data;
    data.Fill(dumpPath, reportPath, settings.iconId);
    if (ProblemReportDialog::Run(data) != 1)
        return 0;

    ModuleInfo info;
    uint32_t number = 0;
    TextString version;
    if (!info.VersionNumbers(nullptr, &number, &version))
        version.Assign("");
    TextString machine;
    MachineId(MachineId::kAllSources).Compute(MachineId::kProblemReport, machine);

    HttpClient client;
    const char *fields[][2] = {
        {"a", "r"},
        {"p", settings.productKey ? settings.productKey : ""},
        {"s", settings.sourceTag ? settings.sourceTag : ""},
        {"v", version.Text()},
        {"g", machine.Text()},
        {"e", data.email.Text()},
        {"x", data.description.Text()},
    };
    for (const auto &field : fields)
        if (!client.AddFormField(field[0], field[1]))
            return 0;
    client.AddFormFile("d", data.dumpPath.Text());
    client.AddFormFile("t", data.reportPath.Text());

    TextString host;
    uint16_t port = kHttpPort;
    SplitHost(settings.uploadHost, host, &port);
    TextString reply;
    client.PostForm(host.Text(), settings.uploadPath ? settings.uploadPath : "", "", &reply, nullptr, 0,
                    nullptr, nullptr, nullptr, nullptr, port, HttpClient::kServiceHttp, nullptr, nullptr,
                    nullptr, nullptr, 0, 0, nullptr, HttpClient::kNoTimeout);
    return 0;
}
