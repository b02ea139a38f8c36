package com.orvenda.calistren.test.lt.nextgen;

import java.io.File;
import java.io.FileInputStream;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.util.Properties;
import java.util.concurrent.CountDownLatch;

/**
 * The benchmark's application: main records that it was entered and blocks
 * until shutdown is called; shutdown sleeps for "shutdown.ms" (default 0) and
 * records how long it took, measured by itself, so that the stop time of the
 * service can be set against it.
 *
 * Settings ("benchapp.properties") and the record ("benchapp.record") live in
 * the directory above the one that holds this jar (the base path for a jar in
 * Velmorane\lib\); the record is appended and closed per line.
 */
public final class Velmorane {
    private static final CountDownLatch stopping = new CountDownLatch(1);
    private static final File base = baseDirectory();

    private Velmorane() {
    }

    private static File baseDirectory() {
        try {
            File jar = new File(Velmorane.class.getProtectionDomain().getCodeSource().getLocation().toURI());
            File lib = jar.getParentFile();
            return lib == null ? null : lib.getParentFile();
        } catch (Exception e) {
            System.err.println("benchapp: cannot locate the jar: " + e);
            return null;
        }
    }

    private static long shutdownMillis() {
        Properties settings = new Properties();
        if (base != null) {
            try (InputStream in = new FileInputStream(new File(base, "benchapp.properties"))) {
                settings.load(in);
            } catch (IOException e) {
                // no settings: return at once
            }
        }
        try {
            return Long.parseLong(settings.getProperty("shutdown.ms", "0").trim());
        } catch (NumberFormatException e) {
            return 0;
        }
    }

    private static synchronized void record(String line) {
        if (base == null) {
            return;
        }
        try (FileOutputStream out = new FileOutputStream(new File(base, "benchapp.record"), true)) {
            out.write((line + "\n").getBytes(StandardCharsets.US_ASCII));
        } catch (IOException e) {
            System.err.println("benchapp: cannot write the record: " + e);
        }
    }

    public static void main(String[] args) throws InterruptedException {
        record("main entered");
        stopping.await();
    }

    public static void shutdown() {
        long start = System.nanoTime();
        stopping.countDown();
        long millis = shutdownMillis();
        long end = start + millis * 1_000_000L;
        long left;
        while ((left = end - System.nanoTime()) > 0) {
            try {
                Thread.sleep(Math.max(1L, left / 1_000_000L));
            } catch (InterruptedException e) {
                // the benchmark chose the duration
            }
        }
        // Writing the record itself (well under a millisecond) falls outside the figure.
        record("shutdown ns=" + (System.nanoTime() - start));
    }
}
