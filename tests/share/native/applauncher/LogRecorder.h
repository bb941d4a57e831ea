#ifndef VANTREL_TESTS_LOGRECORDER_H
#define VANTREL_TESTS_LOGRECORDER_H

#include <vector>

#include "Log.h"

// Records every event of the default logger while it lives, then puts the previous sink back.
class LogRecorder : public LogAppender {
public:
    struct Record {
        tstring level;
        tstring file;
        tstring function;
        tstring message;
    };

    LogRecorder() : previous(Logger::getDefault().getAppender()) {
        Logger::getDefault().setAppender(this);
    }
    ~LogRecorder() override { Logger::getDefault().setAppender(previous); }
    LogRecorder(const LogRecorder&) = delete;
    LogRecorder& operator=(const LogRecorder&) = delete;

    void append(const LogEvent& event) override {
        records.push_back({event.level, event.file, event.function, event.message});
    }

    std::vector<Record> at(const tstring& level) const {
        std::vector<Record> result;
        for (const Record& record : records) {
            if (record.level == level) {
                result.push_back(record);
            }
        }
        return result;
    }

    // Messages of one level that begin with prefix, in order.
    tstring_array messages(const tstring& level, const tstring& prefix = tstring()) const {
        tstring_array result;
        for (const Record& record : at(level)) {
            if (record.message.compare(0, prefix.size(), prefix) == 0) {
                result.push_back(record.message);
            }
        }
        return result;
    }

    void clear() { records.clear(); }

private:
    LogAppender* previous;
    std::vector<Record> records;
};

#endif
