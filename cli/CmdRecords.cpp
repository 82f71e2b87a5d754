// halden records: the records page's query of the controller's card
// records, saved as the page's CSV file.
#include "cli/CliCommands.h"
#include "cli/CliSession.h"
#include "cli/CliText.h"
#include "pages/HistoryRecords.h"

#include <memory>
#include <sstream>

namespace pell::cli {

// The records page's "开始查询" with an export path: job 13 reads the
// batches and, when the query succeeded, writes the CSV file whole.
int RunRecords(Session& s)
{
    const CliOptions& o = s.Options();
    std::ostream& out = s.Out();
    if (int status = s.StartConfig())
        return status;
    ConfigLink& link = s.Link();
    auto records = std::make_shared<HistoryRecords>();
    link.view.SetRecords(records);
    records->request.SetObserver(&link.controller.Worker().RequestWatcher());
    link.recordsRequest.store(&records->request);
    const int runsBefore = link.controller.Worker().JobsRun();
    int status = kExitOk;
    if (!records->StartQuery(o.from, o.to, o.output, o.output))
        status = s.Fail(kExitRefused, "a records query is already running");
    else
        status = s.AwaitJob(runsBefore);
    // The worker has let go of the records (the job ended or stopped).
    link.controller.Stop();
    link.recordsRequest.store(nullptr);
    records->request.SetObserver(nullptr);
    link.view.SetRecords(nullptr);
    if (status != kExitOk)
        return status;
    const JobResult result = link.controller.Worker().LastResult();
    if (!result.exportFailure.empty())
        return s.Fail(kExitFile, GbkToUtf8(result.exportFailure));
    if (result.records != RecordsEnd::Done) {
        if (const CommandOutcome* lost = LineLost(result))
            return s.FailFor(*lost);
        return s.Fail(kExitSilent, "the records query failed (" + GbkToUtf8(recordtext::kQueryFailed) +
                                       "); nothing was written");
    }
    if (o.json) {
        out << "{\"ok\":true,\"file\":" << JsonString(o.output) << ",\"records\":" << records->RecordCount()
            << ",\"rows\":[";
        std::istringstream lines(records->RecordText());
        std::string line;
        bool header = true, first = true;
        while (std::getline(lines, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (header || line.empty()) {
                header = false;
                continue;
            }
            out << (first ? "" : ",") << "[";
            std::size_t start = 0;
            for (bool firstField = true;; firstField = false) {
                const std::size_t end = line.find(';', start);
                out << (firstField ? "" : ",")
                    << JsonString(GbkToUtf8(line.substr(start, end == std::string::npos ? end : end - start)));
                if (end == std::string::npos)
                    break;
                start = end + 1;
            }
            out << "]";
            first = false;
        }
        out << "]}\n";
    } else {
        out << "saved " << records->RecordCount() << " records to " << o.output << "\n";
    }
    out.flush();
    return kExitOk;
}

} // namespace pell::cli
