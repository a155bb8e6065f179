// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/streaming_pool.h"

#include <gst/gst.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace streaming_pool {
namespace {

// One task's run on a pooled thread. Two owners: the thread running it, and the handle given
// to GStreamer, which joins it or disposes of it.
struct Job {
    Job(GstTaskPoolFunction f, gpointer d) : func(f), data(d) {}
    GstTaskPoolFunction func;
    gpointer data;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::atomic<int> owners{2};
};

void Release(Job* job) {
    if (job->owners.fetch_sub(1) == 1) {
        delete job;
    }
}

// A thread that runs one job after another, waiting in between.
class Worker {
public:
    void Give(Job* job) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            job_ = job;
        }
        wake_.notify_one();
    }
    template <typename Done> void Run(Done idle) {
        for (;;) {
            Job* job = nullptr;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [this] { return job_ != nullptr; });
                job = std::exchange(job_, nullptr);
            }
            job->func(job->data);
            {
                std::lock_guard<std::mutex> lock(job->mutex);
                job->done = true;
            }
            job->finished.notify_all();
            Release(job);
            idle(this);
        }
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    Job* job_ = nullptr;
};

class Threads {
public:
    Job* Push(GstTaskPoolFunction func, gpointer data) {
        auto* job = new Job(func, data);
        Worker* worker = nullptr;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!idle_.empty()) {
                worker = idle_.back();
                idle_.pop_back();
            }
        }
        if (!worker) {
            worker = new Worker; // kept, as its thread is, for the life of the process
            ++made_;
            std::thread([this, worker] {
                worker->Run([this](Worker* w) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    idle_.push_back(w);
                });
            }).detach();
        }
        worker->Give(job);
        return job;
    }
    int Made() const { return made_; }

private:
    std::mutex mutex_;
    std::vector<Worker*> idle_;
    std::atomic<int> made_{0};
};

Threads& TheThreads() {
    static auto* threads = new Threads; // never freed: its threads never end
    return *threads;
}

} // namespace
} // namespace streaming_pool

// GstTaskPool subclass whose push runs the task on a pooled thread.
typedef struct {
    GstTaskPool parent;
} BelvoranStreamingPool;
typedef struct {
    GstTaskPoolClass parent_class;
} BelvoranStreamingPoolClass;

G_DEFINE_TYPE(BelvoranStreamingPool, belvoran_streaming_pool, GST_TYPE_TASK_POOL)

namespace {

void Prepare(GstTaskPool*, GError**) {}
void Cleanup(GstTaskPool*) {}

gpointer Push(GstTaskPool*, GstTaskPoolFunction func, gpointer data, GError**) {
    return streaming_pool::TheThreads().Push(func, data);
}

void Join(GstTaskPool*, gpointer id) {
    auto* job = static_cast<streaming_pool::Job*>(id);
    {
        std::unique_lock<std::mutex> lock(job->mutex);
        job->finished.wait(lock, [job] { return job->done; });
    }
    streaming_pool::Release(job);
}

void DisposeHandle(GstTaskPool*, gpointer id) {
    streaming_pool::Release(static_cast<streaming_pool::Job*>(id));
}

} // namespace

static void belvoran_streaming_pool_class_init(BelvoranStreamingPoolClass* klass) {
    GstTaskPoolClass* pool = GST_TASK_POOL_CLASS(klass);
    pool->prepare = Prepare;
    pool->cleanup = Cleanup;
    pool->push = Push;
    pool->join = Join;
    pool->dispose_handle = DisposeHandle;
}

static void belvoran_streaming_pool_init(BelvoranStreamingPool*) {}

namespace streaming_pool {

GstTaskPool* Get() {
    static GstTaskPool* pool = [] {
        auto* p = GST_TASK_POOL(g_object_new(belvoran_streaming_pool_get_type(), nullptr));
        gst_object_ref_sink(p); // held for the life of the process
        return p;
    }();
    return pool;
}

int ThreadsMade() {
    return TheThreads().Made();
}

} // namespace streaming_pool
