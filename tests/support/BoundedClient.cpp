#include "BoundedClient.h"

#include <proton/connection_options.hpp>
#include <proton/container.hpp>
#include <proton/error_condition.hpp>
#include <proton/receiver.hpp>
#include <proton/sender.hpp>
#include <proton/session.hpp>
#include <proton/transport.hpp>
#include <proton/work_queue.hpp>

#include <QString>
#include <QUrl>

#include <condition_variable>
#include <mutex>
#include <thread>

BoundedClient::BoundedClient(std::string url_, std::chrono::milliseconds timeout_)
    : url(std::move(url_)), timeout(timeout_)
{
}

std::string BoundedClient::Run()
{
    proton::container container(*this);
    std::thread runner([&] {
        try {
            container.run();
        } catch (...) {
            // What went wrong is noted by the handlers; a throwing run() only means the container is over.
        }
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
        changed.notify_all();
    });
    // The limit is kept here rather than with a container timer: a pending timer keeps run() going after
    // stop() until it comes due, so every client would last its whole limit.
    std::unique_lock<std::mutex> lock(mutex);
    if (!changed.wait_for(lock, timeout, [&] { return done; })) {
        if (!workQueue || !workQueue->add([this] { Finish(); }))
            container.stop();
        if (!changed.wait_for(lock, std::chrono::seconds(10), [&] { return done; })) {
            error = error.empty() ? std::string("the connection did not close in time") : error;
            container.stop();
        }
    }
    lock.unlock();
    runner.join();
    return error;
}

void BoundedClient::Finish()
{
    if (finishing)
        return;
    finishing = true;
    if (connection.active())
        connection.close();
    else
        connection.container().stop();
}

void BoundedClient::Note(const proton::error_condition& condition)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (error.empty() && condition)
        error = condition.what();
}

void BoundedClient::on_container_start(proton::container& container)
{
    proton::connection_options options;
    options.sasl_allow_insecure_mechs(true);
    // Left to choose, the SASL library may take ANONYMOUS when the broker offers it, which the test broker
    // maps to guest: the user and password in the address would go unused and a wrong password unnoticed.
    // Without a user, ANONYMOUS is what lets the client in as guest.
    if (!QUrl(QString::fromStdString(url)).userName().isEmpty())
        options.sasl_allowed_mechs("PLAIN");
    connection = container.connect(url, options);
}

void BoundedClient::on_connection_open(proton::connection& opened)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        workQueue = &opened.work_queue();
    }
    Opened(opened);
}

void BoundedClient::on_connection_close(proton::connection& closed)
{
    Forget();
    closed.container().stop();
}

void BoundedClient::on_connection_error(proton::connection& failed)
{
    Note(failed.error());
}

void BoundedClient::on_session_error(proton::session& session)
{
    // The broker ends the session, not the link, when it refuses a link's address.
    Note(session.error());
    Finish();
}

void BoundedClient::on_sender_error(proton::sender& sender)
{
    Note(sender.error());
    Finish();
}

void BoundedClient::on_receiver_error(proton::receiver& receiver)
{
    Note(receiver.error());
    Finish();
}

void BoundedClient::on_transport_error(proton::transport& transport)
{
    Note(transport.error());
}

void BoundedClient::on_transport_close(proton::transport& transport)
{
    Forget();
    transport.connection().container().stop();
}

void BoundedClient::Forget()
{
    std::lock_guard<std::mutex> lock(mutex);
    workQueue = nullptr;
}
