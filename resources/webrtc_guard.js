// Framelog: a page's WebRTC while the browser works offline.
//
// Runs in each frame's own world before the page's scripts. While offline,
// new RTCPeerConnections are refused and those already open are closed; a
// page's WebRTC is untouched online. The state comes with this script and,
// for a document that exists already, in a message that carries a secret
// the page never sees (this listener is the first and keeps the message to
// itself); each frame passes it on to its own frames.
//
// Everything the guard calls later is taken now, before the page can
// replace it.
(() => {
    'use strict';
    const on = '@SECRET@1';
    const off = '@SECRET@0';
    let offline = @OFFLINE@;

    const Native = window.RTCPeerConnection;
    if (typeof Native !== 'function')
        return;
    const apply = Reflect.apply;
    const construct = Reflect.construct;
    const define = Object.defineProperty;
    const describe = Object.getOwnPropertyDescriptor;
    const close = Native.prototype.close;
    const NewWeakRef = WeakRef;
    const deref = WeakRef.prototype.deref;
    const NewDOMException = DOMException;
    const dataOf = describe(MessageEvent.prototype, 'data').get;
    const stop = Event.prototype.stopImmediatePropagation;
    const frameCount = (describe(window, 'length') || describe(Window.prototype, 'length')).get;
    const listen = EventTarget.prototype.addEventListener;
    const post = window.postMessage;

    // The connections made here, by number (for-in calls nothing of the page's).
    const open = Object.create(null);
    let made = 0;

    const closeAll = () => {
        for (const key in open) {
            const connection = apply(deref, open[key], []);
            delete open[key];
            if (connection) {
                try {
                    apply(close, connection, []);
                } catch (e) {
                }
            }
        }
    };

    const Guarded = new Proxy(Native, {
        construct(target, args, newTarget) {
            if (offline)
                throw new NewDOMException('The browser works offline.', 'NotAllowedError');
            const connection = construct(target, args, newTarget);
            open[made++] = new NewWeakRef(connection);
            return connection;
        },
    });
    for (const name of ['RTCPeerConnection', 'webkitRTCPeerConnection']) {
        const property = describe(window, name);
        if (property && 'value' in property)
            define(window, name, {value: Guarded, writable: true, configurable: true});
    }
    define(Native.prototype, 'constructor', {value: Guarded, writable: true, configurable: true});

    apply(listen, window, ['message', (event) => {
        let data;
        try {
            data = apply(dataOf, event, []);
        } catch (e) {
            return;
        }
        if (data !== on && data !== off)
            return;
        apply(stop, event, []);
        offline = data === on;
        if (offline)
            closeAll();
        const frames = apply(frameCount, window, []);
        for (let i = 0; i < frames; ++i) {
            const frame = window[i];
            try {
                apply(post, frame, [data, '*']);
            } catch (e) {
                try {
                    frame.postMessage(data, '*'); // another origin's
                } catch (e) {
                }
            }
        }
    }, true]);
})();
