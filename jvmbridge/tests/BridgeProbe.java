import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

/* Java side of the bridge's own tests: the host calls these through the
 * Windows JNI tables and checks what arrives. */
public final class BridgeProbe {
    private static final CountDownLatch stopped = new CountDownLatch(1);

    private BridgeProbe() {
    }

    public static void main(String[] args) throws InterruptedException {
        System.out.println("probe: main args=" + args.length + " arg0=" + escape(args.length > 0 ? args[0] : null));
        System.out.println("probe: java.class.path=" + System.getProperty("java.class.path"));
        System.out.println("probe: jdk.nativeDigest=" + System.getProperty("jdk.nativeDigest"));
        System.out.println("probe: thread=" + Thread.currentThread().getName());
        System.out.flush();
        if (args.length == 1 && args[0].equals("no-wait")) {
            return;
        }
        if (!stopped.await(60, TimeUnit.SECONDS)) {
            throw new IllegalStateException("stop() was not called");
        }
        System.out.println("probe: main returns");
        System.out.flush();
    }

    public static void stop() {
        System.out.println("probe: stop on thread " + Thread.currentThread().getName());
        System.out.flush();
        stopped.countDown();
    }

    /* Lines of 100 bytes each, the line feed included, numbered. */
    public static void print(int lines) {
        String padding = "x".repeat(91);
        for (int n = 1; n <= lines; n++) {
            System.out.println(String.format("%07d ", n) + padding);
        }
    }

    public static void fail() {
        throw new RuntimeException("probe failure");
    }

    /* The host passes fixed values through the variadic call; any value that
     * arrives changed leaves an exception pending. */
    public static void check(boolean z, byte b, char c, short s, int i, long j, float f, double d,
                             String str, int[] none, boolean last) {
        String got = z + " " + b + " " + (int) c + " " + s + " " + i + " " + j + " " + f + " " + d
                + " " + str + " " + none + " " + last;
        String want = "true -7 8364 -12345 -2000000000 -9000000000000 1.5 -2.25 text null true";
        System.out.println("probe: check " + got);
        System.out.flush();
        if (!got.equals(want)) {
            throw new IllegalArgumentException("got " + got + ", want " + want);
        }
    }

    static String escape(String s) {
        if (s == null) {
            return "<null>";
        }
        StringBuilder b = new StringBuilder();
        for (char ch : s.toCharArray()) {
            if (ch == '\\') {
                b.append("\\\\");
            } else if (ch == '\n') {
                b.append("\\n");
            } else if (ch < 0x20 || ch > 0x7e) {
                b.append(String.format("\\u%04x", (int) ch));
            } else {
                b.append(ch);
            }
        }
        return b.toString();
    }
}
