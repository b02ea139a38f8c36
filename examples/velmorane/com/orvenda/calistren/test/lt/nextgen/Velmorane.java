package com.orvenda.calistren.test.lt.nextgen;

import java.io.IOException;
import java.net.URISyntaxException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.time.Instant;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

/**
 * Example application for VelmoraneService; copy it and put your own work
 * into {@link #work}.
 *
 * The service calls {@link #main} once, on its launcher thread, with the one
 * argument "installbase=" + its own directory (with the closing backslash) +
 * a line feed. It calls {@link #shutdown} on another thread when the service
 * is stopped, and lets the process end 20 seconds later at the latest,
 * finished or not.
 *
 * The work here: every second, write heartbeat.txt in the installation
 * directory; at shutdown, write a last line that says it stopped.
 */
public final class Velmorane {
    private static final String INSTALLBASE = "installbase=";
    private static final long BEAT_SECONDS = 1;
    // Well inside the service's 20 s, so that shutdown() returns before the process is ended.
    private static final long STOP_WAIT_SECONDS = 15;

    private static final CountDownLatch stopRequested = new CountDownLatch(1);
    private static final CountDownLatch stopped = new CountDownLatch(1);
    private static volatile Thread worker;

    private Velmorane() {
    }

    /** Starts the work on a thread of its own and returns: the service keeps the JVM running. */
    public static void main(String[] args) {
        Path base = installBase(args);
        Thread thread = new Thread(() -> work(base), "velmorane-example-worker");
        worker = thread;
        thread.start();
    }

    /** Asks the work to stop and waits until it has finished in order. */
    public static void shutdown() throws InterruptedException {
        if (worker == null) {
            return; // main never ran: nothing to stop
        }
        stopRequested.countDown();
        stopped.await(STOP_WAIT_SECONDS, TimeUnit.SECONDS);
    }

    private static void work(Path base) {
        Path heartbeat = base.resolve("heartbeat.txt");
        Instant started = Instant.now();
        long beats = 0;
        try {
            do {
                beats++;
                write(heartbeat, "running since " + started + ", beat " + beats + " at " + Instant.now());
            } while (!stopRequested.await(BEAT_SECONDS, TimeUnit.SECONDS));
            write(heartbeat, "stopped in order after " + beats + " beats at " + Instant.now());
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        } finally {
            stopped.countDown();
        }
    }

    private static void write(Path file, String line) {
        try {
            Files.write(file, (line + System.lineSeparator()).getBytes(StandardCharsets.UTF_8));
        } catch (IOException e) {
            // A service has no console; a real application logs this to its own log.
            System.err.println("velmorane example: can't write " + file + ": " + e);
        }
    }

    /**
     * The directory named by "installbase=...\n". On Windows that is the
     * service's directory as it stands. A JVM that can't see that Windows
     * path (the demo runs the Linux JVM under Wine) uses the same directory
     * found another way: the one above this jar's lib\.
     */
    static Path installBase(String[] args) {
        String value = "";
        for (String arg : args) {
            if (arg.startsWith(INSTALLBASE)) {
                value = arg.substring(INSTALLBASE.length());
            }
        }
        if (value.endsWith("\n")) {
            value = value.substring(0, value.length() - 1);
        }
        try {
            Path base = Paths.get(value);
            if (!value.isEmpty() && Files.isDirectory(base)) {
                return base;
            }
        } catch (InvalidPathException e) {
            // not a path this JVM knows: found the other way below
        }
        try {
            Path jar = Paths.get(Velmorane.class.getProtectionDomain().getCodeSource().getLocation().toURI());
            return jar.getParent().getParent();
        } catch (URISyntaxException | RuntimeException e) {
            return Paths.get("").toAbsolutePath();
        }
    }
}
