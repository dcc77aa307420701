#pragma once

#include <proton/connection.hpp>
#include <proton/messaging_handler.hpp>
#include <proton/work_queue.hpp>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

// A short-lived AMQP 1.0 client connection that always hands control back: it ends when the work is done
// (Finish), when the broker refuses or drops anything, or at the time limit, whichever comes first. The first
// error the broker or the transport reports is kept.
class BoundedClient : public proton::messaging_handler
{
public:
    BoundedClient(std::string url, std::chrono::milliseconds timeout);

    // Connects, runs the container on a thread of its own until the client ends, and returns the first error
    // (empty when there was none).
    std::string Run();

protected:
    // The connection is open; open the link here.
    virtual void Opened(proton::connection& connection) = 0;
    // The work is done: close the connection, which ends the run once the broker confirms the close.
    void Finish();
    void Note(const proton::error_condition& condition);

private:
    void on_container_start(proton::container& container) override;
    void on_connection_open(proton::connection& connection) override;
    void on_connection_close(proton::connection& connection) override;
    void on_connection_error(proton::connection& connection) override;
    void on_session_error(proton::session& session) override;
    void on_sender_error(proton::sender& sender) override;
    void on_receiver_error(proton::receiver& receiver) override;
    void on_transport_error(proton::transport& transport) override;
    void on_transport_close(proton::transport& transport) override;

    // No longer reachable from the thread that keeps the time limit.
    void Forget();

    std::string url;
    std::chrono::milliseconds timeout;
    proton::connection connection; // only touched on the container's thread
    bool finishing = false;

    // Shared between the container's thread and the one in Run().
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    proton::work_queue* workQueue = nullptr;
    std::string error;
};
